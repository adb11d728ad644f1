#include "reader/Telnet.h"

#include <gtest/gtest.h>

namespace {

// Feeds the text in pieces of Step bytes, so every state may be cut at any point.
std::pair<std::string, std::string> Decode(Telnet::TDecoder& D, const std::string& In, size_t Step)
{
    std::string Data, Reply;
    for (size_t I = 0; I < In.size(); I += Step)
        D.Feed(reinterpret_cast<const uint8_t*>(In.data()) + I, std::min(Step, In.size() - I), Data, Reply);
    return {Data, Reply};
}

} // namespace

TEST(TelnetTest, SplitsDataFromCommandsWhereverTheInputIsCut)
{
    using namespace std::string_literals;
    const struct
    {
        std::string In, Data, Reply;
    } Cases[] = {
        {"\x42\x04\xFF\xFF\x02"s, "\x42\x04\xFF\x02"s, ""},
        {"a\xFF\xFB\x03" "b\xFF\xFB\x03"s, "ab", "\xFF\xFD\x03"s},           // once, not again
        {"\xFF\xFD\x18\xFF\xFB\x05"s, "", "\xFF\xFC\x18\xFF\xFE\x05"s},    // refused both ways
        {"\xFF\xFB\x01"s, "", "\xFF\xFE\x01"s},                               // no echo of our frames
        {"x\xFF\xFA\x2C\x65\xFF\xFF\xFF\xF0y\xFF\xF1z"s, "xyz", ""},        // subnegotiation, NOP
    };
    for (const auto& C : Cases)
        for (size_t Step : {size_t(1), size_t(2), C.In.size()}) {
            Telnet::TDecoder D;
            const auto [Data, Reply] = Decode(D, C.In, Step);
            EXPECT_EQ(Data, C.Data) << Step;
            EXPECT_EQ(Reply, C.Reply) << Step;
        }
}

TEST(TelnetTest, CountsTheServersAnswersAndDropsStaleDataUntilThePurge)
{
    using namespace std::string_literals;
    Telnet::TDecoder D;
    D.DropUntilPurged();
    const auto [Data, Reply] = Decode(D, "old\xFF\xFA\x2C\x69\x01\xFF\xF0" "old\xFF\xFA\x2C\x70\x03\xFF\xF0new"s, 3);
    EXPECT_EQ(Data, "new");
    EXPECT_EQ(D.Answers(Telnet::SetBaudRate), 0);
    EXPECT_EQ(D.Answers(Telnet::SetControl), 1);
    EXPECT_EQ(D.Answers(Telnet::PurgeData), 1);
    std::string Escaped;
    const uint8_t Frame[] = {0x42, 0x04, 0xFF, 0x02};
    Telnet::Escape(Frame, 4, Escaped);
    EXPECT_EQ(Escaped, "\x42\x04\xFF\xFF\x02"s);
}

TEST(TelnetTest, AServerThatRefusesAnOptionOrNeverEndsASubnegotiationFailsTheStream)
{
    using namespace std::string_literals;
    const std::string Endless = "\xFF\xFA\x2C"s + std::string(1 << 20, 'x') + "late";
    const struct
    {
        std::string In, Failure;
    } Cases[] = {
        {"\xFF\xFB\x00\xFF\xFD\x00ok"s, ""},
        {"\xFF\xFE\x00late"s, "the server refused binary mode"},
        {"\xFF\xFB\x00\xFF\xFC\x00late"s, "the server refused binary mode"},
        {"\xFF\xFE\x2Clate"s, "the server refused the com-port option"},
        {"\xFF\xFC\x2Clate"s, "the server refused the com-port option"},
        {Endless, "the server sent an over-long Telnet subnegotiation"},
    };
    for (const auto& C : Cases) {
        Telnet::TDecoder D;
        const auto [Data, Reply] = Decode(D, C.In, 4096);
        EXPECT_EQ(D.Failure(), C.Failure);
        EXPECT_EQ(D.Binary(), C.Failure.empty());
        EXPECT_EQ(Data, C.Failure.empty() ? "ok" : "") << "nothing is taken after the failure";
        EXPECT_LE(D.Held(), Telnet::TDecoder::SubnegotiationLimit);
    }
}
