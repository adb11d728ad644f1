#include "tools/virtual-reader/Session.h"

#include "tools/virtual-reader/Console.h"
#include "tools/virtual-reader/ReaderDatabase.h"
#include "cards/RfidTags.h"

#include <charconv>

namespace {

std::string Trimmed(const std::string& Text)
{
    const size_t First = Text.find_first_not_of(" \t\r");
    if (First == std::string::npos)
        return {};
    return Text.substr(First, Text.find_last_not_of(" \t\r") - First + 1);
}

std::string CardText(const sim::CardBytes& Card)
{
    TRfidTag Tag;
    Tag.Bytes = Card;
    return Tag.CardNumber().toStdString();
}

} // namespace

std::optional<uint32_t> ParseCardValue(const std::string& Text)
{
    const bool IsHex = Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X');
    const char* Begin = Text.data() + (IsHex ? 2 : 0);
    const char* End = Text.data() + Text.size();
    uint32_t Value = 0;
    const auto [Stop, Error] = std::from_chars(Begin, End, Value, IsHex ? 16 : 10);
    if (Begin == End || Error != std::errc() || Stop != End)
        return std::nullopt;
    return Value;
}

sim::CardBytes CardOfValue(uint32_t Value)
{
    return {0, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)};
}

TSession::TSession(sim::SimReader& Reader, TConsole& Out, const std::map<uint32_t, QByteArray>& Names)
    : FReader(Reader), FOut(Out), FNames(Names)
{
}

const char* TSession::Help()
{
    return "Commands, one a line:\n"
           "  <number>   swipe the card with this value (decimal, or hexadecimal with 0x)\n"
           "  r          swipe a random card\n"
           "  l          list the reader's cards\n"
           "  q          quit (so do end of input, Ctrl+C and SIGTERM)";
}

bool TSession::Handle(const std::string& Line)
{
    const std::string Command = Trimmed(Line);
    if (Command.empty())
        return true;
    if (Command == "q")
        return false;
    if (Command == "l")
        List();
    else if (Command == "r")
        Swipe(uint32_t(FRandom()));
    else if (const auto Value = ParseCardValue(Command))
        Swipe(*Value);
    else
        FOut.Error("Unknown command \"" + Command + "\": type a card number, r, l or q.");
    return true;
}

void TSession::Swipe(uint32_t Value)
{
    const sim::CardBytes Card = CardOfValue(Value);
    FOut.Line("Swiping card " + CardText(Card));
    FReader.Swipe(Card);
}

void TSession::List()
{
    const std::vector<sim::CardBytes> Cards = FReader.Cards();
    const uint8_t Master = FReader.Master();
    FOut.Line(std::to_string(Cards.size()) + " cards, master index " + std::to_string(Master));
    for (size_t I = 0; I < Cards.size(); ++I) {
        char Head[80];
        std::snprintf(Head, sizeof Head, "%4zu  %s  0x%08X%s", I, CardText(Cards[I]).c_str(),
                      CardValue(Cards[I]), I == Master ? "  master" : "");
        std::string Text = Head;
        if (auto Name = FNames.find(CardValue(Cards[I])); Name != FNames.end())
            Text += "  \"" + Name->second.toStdString() + "\"";
        FOut.Line(Text);
    }
}
