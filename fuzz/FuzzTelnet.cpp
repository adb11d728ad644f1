// Arbitrary server streams through the Telnet decoder, cut anywhere. There is no second decoder
// to compare with; instead: where the stream is cut changes nothing, what the decoder keeps stays
// bounded whatever the server sends, and data we escape come back exactly, commands between.

#include "fuzz/FuzzCheck.h"
#include "reader/Telnet.h"

#include <algorithm>

using namespace std::string_literals;

namespace {

struct TOutcome
{
    std::string Data, Reply, Failure;
    bool Binary = false;
    std::vector<uint32_t> Answers;
    bool operator==(const TOutcome&) const = default;
};

// Pieces of 1 to 17 bytes, their sizes taken from Cuts in turn; none: all at once.
TOutcome Feed(const std::string& In, const std::string& Cuts, bool Purge)
{
    Telnet::TDecoder D;
    if (Purge)
        D.DropUntilPurged();
    TOutcome O;
    for (size_t At = 0, Cut = 0; At < In.size();) {
        const size_t Step = Cuts.empty() ? In.size() : 1 + uint8_t(Cuts[Cut++ % Cuts.size()]) % 17;
        const std::string Before = D.Failure();
        D.Feed(reinterpret_cast<const uint8_t*>(In.data()) + At, std::min(Step, In.size() - At), O.Data, O.Reply);
        At += Step;
        if (D.Held() > Telnet::TDecoder::SubnegotiationLimit)
            Broken("a subnegotiation was kept past its limit");
        if (!Before.empty() && D.Failure() != Before)
            Broken("a failure did not last");
    }
    O.Failure = D.Failure();
    O.Binary = D.Binary();
    for (int Code = 0; Code < 256; ++Code)
        O.Answers.push_back(D.Answers(uint8_t(Code)));
    Telnet::Disagreement(ComDevice::TLine{}, D); // any answer value is said without fault
    if (O.Data.size() > In.size() || O.Reply.size() > 2 * 256 * 3)
        Broken("more came out than a stream of this size can give");
    return O;
}

void CheckCuts(const std::string& In, const std::string& Cuts)
{
    for (const bool Purge : {false, true})
        if (!(Feed(In, Cuts, Purge) == Feed(In, {}, Purge)))
            Broken("where the stream was cut changed what came out: " + HexText(reinterpret_cast<const uint8_t*>(In.data()), In.size()));
}

void CheckRoundTrip(const std::string& Data, const std::string& Cuts)
{
    const std::string Between[] = {"\xFF\xF1"s, "\xFF\xFA\x2C\x65\x00\x00\x4B\x00\xFF\xF0"s, "\xFF\xFB\x03"s};
    std::string Stream;
    for (size_t At = 0, Piece = 0; At < Data.size(); At += 7, ++Piece) {
        Telnet::Escape(reinterpret_cast<const uint8_t*>(Data.data()) + At, std::min<size_t>(7, Data.size() - At), Stream);
        Stream += Between[Piece % 3];
    }
    const TOutcome O = Feed(Stream, Cuts, false);
    if (O.Data != Data || !O.Failure.empty())
        Broken("escaped data did not come back exactly: " + HexText(reinterpret_cast<const uint8_t*>(Data.data()), Data.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Bytes, size_t Size)
{
    const std::string In(reinterpret_cast<const char*>(Bytes), Size);
    const std::string Cuts = In.substr(0, std::min<size_t>(8, Size));
    CheckCuts(In, Cuts);
    CheckRoundTrip(In, Cuts);
    return 0;
}
