#include "sim/SimFrames.h"

#include <algorithm>
#include <cstdio>

namespace sim {

Frame MakeFrame(uint8_t Code, std::initializer_list<uint8_t> Payload)
{
    return MakeFrame(Code, Payload.begin(), Payload.size());
}

Frame MakeFrame(uint8_t Code, const uint8_t* Payload, size_t Count)
{
    Frame Result{FrameStart, uint8_t(MinFrameLength + Count), Code, FrameFiller};
    Result.insert(Result.end(), Payload, Payload + Count);
    return Result;
}

void FrameCutter::Append(const uint8_t* Bytes, size_t Count)
{
    FHeld.insert(FHeld.end(), Bytes, Bytes + Count);
}

std::optional<Frame> FrameCutter::Next()
{
    while (FHeld.size() >= MinFrameLength) {
        FHeld.erase(FHeld.begin(), std::find(FHeld.begin(), FHeld.end(), FrameStart));
        if (FHeld.size() < 2)
            return std::nullopt;
        const size_t Length = FHeld[1];
        if (Length < MinFrameLength || Length > MaxFrameLength) {
            FHeld.erase(FHeld.begin());
            continue;
        }
        if (Length > FHeld.size())
            return std::nullopt;
        Frame Result(FHeld.begin(), FHeld.begin() + std::ptrdiff_t(Length));
        FHeld.erase(FHeld.begin(), FHeld.begin() + std::ptrdiff_t(Length));
        return Result;
    }
    return std::nullopt;
}

std::string HexBytes(const uint8_t* Bytes, size_t Count)
{
    std::string Text;
    for (size_t I = 0; I < Count; ++I) {
        char Byte[4];
        std::snprintf(Byte, sizeof Byte, I ? " %02X" : "%02X", Bytes[I]);
        Text += Byte;
    }
    return Text;
}

namespace {

const char* CodeName(uint8_t Code)
{
    switch (Code) {
    case CodeSwipe: return "swipe";
    case CodeRead: return "read";
    case CodeBegin: return "begin";
    case CodeCard: return "card";
    case CodeEnd: return "end";
    case CodeWrite: return "write";
    case CodeWriteCard: return "card";
    case CodeAck: return "ack";
    case CodeDone: return "done";
    case CodeDoor: return "door";
    case CodeAskDoor: return "door?";
    default: return "?";
    }
}

bool IsFrame(const Frame& Bytes)
{
    return Bytes.size() >= MinFrameLength && Bytes[0] == FrameStart && Bytes[1] == Bytes.size();
}

} // namespace

std::string DescribeFrame(const Frame& Bytes)
{
    if (!IsFrame(Bytes))
        return "raw   " + HexBytes(Bytes.data(), Bytes.size());
    char Head[16];
    std::snprintf(Head, sizeof Head, "%02X %-4s", Bytes[2], CodeName(Bytes[2]));
    std::string Text = Head;
    if (Bytes.size() > MinFrameLength)
        return Text + "  " + HexBytes(Bytes.data() + MinFrameLength, Bytes.size() - MinFrameLength);
    Text.erase(Text.find_last_not_of(' ') + 1);
    return Text;
}

} // namespace sim
