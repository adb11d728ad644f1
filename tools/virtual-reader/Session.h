#pragma once

#include "sim/SimReader.h"

#include <QByteArray>

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

class TConsole;

// The commands a person types at the virtual reader.
class TSession
{
public:
    TSession(sim::SimReader& Reader, TConsole& Out, const std::map<uint32_t, QByteArray>& Names);

    // Returns false when the person asked to quit.
    bool Handle(const std::string& Line);

    static const char* Help();

private:
    void Swipe(uint32_t Value);
    void List();

    sim::SimReader& FReader;
    TConsole& FOut;
    const std::map<uint32_t, QByteArray>& FNames;
    std::mt19937 FRandom{std::random_device{}()};
};

// A card value in decimal or hexadecimal ("0x..."), the whole text, at most 32 bits.
std::optional<uint32_t> ParseCardValue(const std::string& Text);

// A swiped card: the value big-endian in bytes 1 to 4, byte 0 zero.
sim::CardBytes CardOfValue(uint32_t Value);
