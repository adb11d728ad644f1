#include "support/LyingReader.h"

namespace {

std::string Bytes(const sim::Frame& F) { return std::string(F.begin(), F.end()); }

} // namespace

LyingReader::LyingReader(Lies How) : FLies(How)
{
    FServer = std::make_unique<RogueServer>([this](const std::string& Received) { return Answer(Received); });
}

std::string LyingReader::Answer(const std::string& Received)
{
    std::lock_guard Guard(FLock);
    FCutter.Append(reinterpret_cast<const uint8_t*>(Received.data()), Received.size());
    std::string Out;
    while (auto Frame = FCutter.Next()) {
        const uint8_t Code = (*Frame)[2];
        if (Code == sim::CodeRead && FLies.EndlessRead) {
            Out += Bytes(sim::MakeFrame(sim::CodeBegin, {0}));
            FServer->SetFlood([this] {
                std::string More;
                for (int I = 0; I < 64; ++I, ++FNextCard)
                    More += Bytes(sim::MakeFrame(sim::CodeCard, {0, uint8_t(FNextCard >> 24), uint8_t(FNextCard >> 16),
                                                                  uint8_t(FNextCard >> 8), uint8_t(FNextCard)}));
                return More;
            });
            continue;
        }
        for (const sim::Frame& Reply : FState.Answer(*Frame)) {
            if (Reply[2] == sim::CodeBegin && FLies.LoseFrame3)
                continue;
            Out += Bytes(Reply);
            if (Reply[2] == sim::CodeAck && FLies.UnknownInWrite)
                Out += Bytes(sim::MakeFrame(0x33));
        }
        if (Code == sim::CodeDone && FLies.KeepCards >= 0 && size_t(FLies.KeepCards) < FState.Cards.size())
            FState.Cards.resize(size_t(FLies.KeepCards));
    }
    return Out;
}
