#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A broken invariant ends the process like a crash, so the fuzzer keeps the input that broke it.
[[noreturn]] inline void Broken(const std::string& Why)
{
    std::fprintf(stderr, "invariant broken: %s\n", Why.c_str());
    std::abort();
}

inline std::string HexText(const uint8_t* Bytes, size_t Count)
{
    static const char Digits[] = "0123456789ABCDEF";
    std::string Text;
    for (size_t I = 0; I < Count; ++I) {
        if (I > 0)
            Text += ' ';
        Text += Digits[Bytes[I] >> 4];
        Text += Digits[Bytes[I] & 15];
    }
    return Text;
}

inline std::string HexText(const std::vector<uint8_t>& Bytes) { return HexText(Bytes.data(), Bytes.size()); }
