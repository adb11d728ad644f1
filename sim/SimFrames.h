#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

// The reader's own view of the line: frames are 0x42, total length, code, 0xFF, payload.
namespace sim {

using Frame = std::vector<uint8_t>;

// The reader's numbers are spelled out here rather than taken from reader/Protocol.h: this is the
// far side of the line, and a number changed on the program's side alone must show up as a reader
// that no longer understands the program.
constexpr uint8_t FrameStart = 0x42;
constexpr uint8_t FrameFiller = 0xFF;
constexpr size_t MinFrameLength = 4;
constexpr size_t MaxFrameLength = 32;

enum FrameCode : uint8_t {
    CodeSwipe = 1,
    CodeRead = 2,
    CodeBegin = 3,
    CodeCard = 4,
    CodeEnd = 5,
    CodeWrite = 6,
    CodeWriteCard = 7,
    CodeAck = 8,
    CodeDone = 9,
    CodeDoor = 10,
    CodeAskDoor = 11,
};

Frame MakeFrame(uint8_t Code, std::initializer_list<uint8_t> Payload = {});
Frame MakeFrame(uint8_t Code, const uint8_t* Payload, size_t Count);

// Cuts frames out of a byte stream the way the program does: bytes before a start byte are
// dropped, and a start byte whose length cannot describe a frame is dropped too.
class FrameCutter
{
public:
    void Append(const uint8_t* Bytes, size_t Count);
    std::optional<Frame> Next();

private:
    std::vector<uint8_t> FHeld;
};

// One readable line for a frame, e.g. "07 card  01 00 12 D6 87"; bytes that are no frame are
// shown as "raw" with their hex.
std::string DescribeFrame(const Frame& Bytes);

std::string HexBytes(const uint8_t* Bytes, size_t Count);

} // namespace sim
