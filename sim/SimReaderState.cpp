#include "sim/SimReaderState.h"

namespace sim {

namespace {

uint8_t PayloadByte(const Frame& F, size_t Index)
{
    const size_t At = MinFrameLength + Index;
    return At < F.size() ? F[At] : 0; // bytes a frame did not carry read as 0
}

CardBytes PayloadCard(const Frame& F)
{
    CardBytes Card{};
    for (size_t I = 0; I < Card.size(); ++I)
        Card[I] = PayloadByte(F, I);
    return Card;
}

} // namespace

std::vector<Frame> SimReaderState::Answer(const Frame& Received)
{
    switch (Received[2]) {
    case CodeRead:
        return SendDatabase();
    case CodeWrite:
        FIncomingMaster = PayloadByte(Received, 0);
        FIncoming.clear();
        FWriting = true;
        return {MakeFrame(CodeWrite)};
    case CodeWriteCard:
        FIncoming.push_back(PayloadCard(Received));
        return {MakeFrame(CodeAck)};
    case CodeDone:
        // Without a frame 6 before it there is nothing to commit, but the program still waits
        // for the echo.
        if (FWriting) {
            Cards = std::move(FIncoming);
            Master = FIncomingMaster;
            FIncoming.clear();
            FWriting = false;
        }
        return {MakeFrame(CodeDone)};
    case CodeDoor:
        DoorMode = PayloadByte(Received, 0);
        DoorDelay = PayloadByte(Received, 1);
        return {};
    case CodeAskDoor:
        return {MakeFrame(CodeDoor, {DoorMode, DoorDelay})};
    default:
        return {};
    }
}

std::vector<Frame> SimReaderState::SendDatabase() const
{
    std::vector<Frame> Frames{MakeFrame(CodeBegin, {Master})};
    for (const CardBytes& Card : Cards)
        Frames.push_back(MakeFrame(CodeCard, Card.data(), Card.size()));
    Frames.push_back(MakeFrame(CodeEnd));
    return Frames;
}

} // namespace sim
