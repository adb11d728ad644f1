#pragma once

#include "common/Errors.h"
#include "reader/Protocol.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QObject;

// One frame: start byte, total length, command code, filler, payload (reader/Protocol.h). The
// length byte is the only record of how much of the 32-byte buffer belongs to the frame.
class TPacket
{
public:
    static constexpr int BufferSize = protocol::MaxFrameLength;
    static constexpr int MinLength = protocol::HeaderLength;
    static constexpr uint8_t StartByte = protocol::FrameStart;

    TPacket() = default;
    TPacket(const TPacket&) = delete;
    TPacket& operator=(const TPacket&) = delete;

    uint8_t* Data() { return FBuffer.data(); }
    const uint8_t* Data() const { return FBuffer.data(); }

    // Frame byte 4 + Index; Index runs from 0 to 27.
    uint8_t Payload(int Index) const { return FBuffer.at(size_t(MinLength + Index)); }
    void SetPayload(int Index, uint8_t Value) { FBuffer.at(size_t(MinLength + Index)) = Value; }

    uint8_t Length() const { return FBuffer[1]; }
    uint8_t Code() const { return FBuffer[2]; }

    // A frame as the program sends it: start byte, length, code, filler; the payload follows.
    static std::unique_ptr<TPacket> Build(uint8_t Code, uint8_t Length);

private:
    std::array<uint8_t, BufferSize> FBuffer{};
};

using TPacketEvent = std::function<void(QObject* Sender, TPacket& Packet)>;

// Collects received bytes and cuts complete frames out of them. The receive buffer is one fixed
// block; the bytes held always start at its first position.
class TPacketParser
{
public:
    static constexpr int BufferSize = 25600;

    TPacketParser();
    TPacketParser(const TPacketParser&) = delete;
    TPacketParser& operator=(const TPacketParser&) = delete;

    int Capacity() const { return FCapacity; }
    int Count() const { return FCount; }
    const uint8_t* Held() const { return FBuffer.get() + FStart; }

    // Raises "Parser buffer overflow ..." and appends nothing when the bytes do not fit.
    void Append(const uint8_t* Buffer, int Count);

    // Drops every byte held, as when a frame that never completes is given up.
    void Clear() { FStart = FCount = 0; }

    // The next complete frame, or empty when none is held yet.
    std::unique_ptr<TPacket> ExtractPacket();

private:
    void SeekStart();
    void Discard(int N);
    void MoveToFront();

    // Discarded bytes are skipped by FStart and moved out once per Append, so cutting many
    // frames out of one large chunk costs no more than the chunk itself.
    std::unique_ptr<uint8_t[]> FBuffer;
    int FStart = 0;
    int FCount = 0;
    int FCapacity = BufferSize;
};
