#pragma once

#include "reader/CPortDevice.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Telnet with the COM-PORT-OPTION (RFC 2217) as a client sees it: data escaping, option answers
// and the line requests. Plain bytes in, plain bytes out; no system calls.
namespace Telnet {

constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t OptBinary = 0, OptEcho = 1, OptSuppressGoAhead = 3, OptComPort = 44;
// Client requests; the server answers each with the same code plus 100.
constexpr uint8_t SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4, SetControl = 5,
                  PurgeData = 12;

// Appends Count bytes of data with every IAC doubled.
void Escape(const uint8_t* Data, size_t Count, std::string& Out);

// What a client says first: binary both ways and the com-port option.
std::string Greeting();

// The subnegotiations that set the line, flow control first among the controls so that the
// server's first control answer is the one for it.
std::string LineRequests(const ComDevice::TLine& Line);
std::string PurgeBoth();

class TDecoder;

// The first setting (speed, data size, parity, stop size) that the server's last answers set
// otherwise than Line asks, in words; empty when they agree.
std::string Disagreement(const ComDevice::TLine& Line, const TDecoder& Decoder);

// Splits what the server sends into data and commands; answers the option requests that need one.
class TDecoder
{
public:
    // Longer than any com-port message: a server that sends more is broken or hostile, and
    // nothing it sends is kept beyond this.
    static constexpr size_t SubnegotiationLimit = 64;

    TDecoder();
    // Data go to Data, the answers this client owes go to Reply. Nothing more is taken once the
    // stream has failed.
    void Feed(const uint8_t* In, size_t Count, std::string& Data, std::string& Reply);
    // How many com-port answers to the request Code arrived so far, and the value of the last.
    uint32_t Answers(uint8_t Code) const { return FAnswers[Code]; }
    const std::string& Answer(uint8_t Code) const { return FValues[Code]; }
    // Data are dropped until the server answers a purge: what it held from before is stale.
    void DropUntilPurged() { FDropping = true; }
    // Why the connection cannot carry the reader's frames; empty while it can.
    const std::string& Failure() const { return FFailure; }
    // The server agreed to binary mode both ways: every byte value crosses unchanged.
    bool Binary() const { return FBinaryIn && FBinaryOut; }
    // Bytes kept of a subnegotiation that has not ended yet.
    size_t Held() const { return FSub.size(); }

private:
    void Step(uint8_t B, std::string& Data, std::string& Reply);
    void Negotiate(uint8_t Verb, uint8_t Option, std::string& Reply);
    void Note(uint8_t Verb, uint8_t Option);
    void Collect(uint8_t B);
    void EndSubnegotiation();

    enum class TState : uint8_t { Data, Command, Option, Sub, SubIac };
    TState FState = TState::Data;
    bool FDropping = false;
    uint8_t FVerb = 0;
    std::string FSub;
    std::array<bool, 256> FWillSent{};
    std::array<bool, 256> FDoSent{};
    std::array<uint32_t, 256> FAnswers{};
    std::array<std::string, 256> FValues;
    bool FBinaryIn = false;
    bool FBinaryOut = false;
    std::string FFailure;
};

} // namespace Telnet
