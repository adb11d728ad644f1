#include "reader/Packet.h"

#include <algorithm>
#include <cstring>

std::unique_ptr<TPacket> TPacket::Build(uint8_t Code, uint8_t Length)
{
    auto Packet = std::make_unique<TPacket>();
    uint8_t* Data = Packet->Data();
    Data[0] = StartByte;
    Data[1] = Length;
    Data[2] = Code;
    Data[3] = protocol::FrameFiller;
    return Packet;
}

TPacketParser::TPacketParser() : FBuffer(new uint8_t[BufferSize]) {}

void TPacketParser::Append(const uint8_t* Buffer, int Count)
{
    const int Free = FCapacity - FCount;
    if (Count > Free)
        throw Exception(Format(
            "Parser buffer overflow while attempting to write %d bytes, only %d bytes available.",
            Count, Free));
    if (Count <= 0)
        return;
    MoveToFront();
    std::memcpy(FBuffer.get() + FCount, Buffer, size_t(Count));
    FCount += Count;
}

std::unique_ptr<TPacket> TPacketParser::ExtractPacket()
{
    for (;;) {
        if (FCount < TPacket::MinLength)
            return nullptr;
        SeekStart();
        if (FCount < 2)
            return nullptr;
        const int Length = Held()[1];
        // A length that cannot describe a frame: drop this start byte and look for the next.
        if (Length < TPacket::MinLength || Length > TPacket::BufferSize) {
            Discard(1);
            continue;
        }
        if (Length > FCount)
            return nullptr;
        auto Packet = std::make_unique<TPacket>();
        std::memcpy(Packet->Data(), Held(), size_t(Length));
        Discard(Length);
        return Packet;
    }
}

void TPacketParser::SeekStart()
{
    const uint8_t* Begin = Held();
    const uint8_t* Found = std::find(Begin, Begin + FCount, TPacket::StartByte);
    Discard(int(Found - Begin));
}

void TPacketParser::Discard(int N)
{
    N = std::clamp(N, 0, FCount);
    FCount -= N;
    FStart = FCount == 0 ? 0 : FStart + N;
}

void TPacketParser::MoveToFront()
{
    if (FStart > 0)
        std::memmove(FBuffer.get(), FBuffer.get() + FStart, size_t(FCount));
    FStart = 0;
}
