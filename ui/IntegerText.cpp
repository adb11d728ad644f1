#include "ui/IntegerText.h"

#include <optional>

namespace {

int DigitValue(QChar C, int Base)
{
    const char16_t U = C.unicode();
    int Digit = -1;
    if (U >= u'0' && U <= u'9')
        Digit = U - u'0';
    else if (U >= u'a' && U <= u'f')
        Digit = U - u'a' + 10;
    else if (U >= u'A' && U <= u'F')
        Digit = U - u'A' + 10;
    return Digit < Base ? Digit : -1;
}

// The magnitude of a run of digits that fills the rest of Text, or nothing when the run is empty,
// holds a foreign character or exceeds Limit.
std::optional<uint64_t> ParseMagnitude(QStringView Text, int Base, uint64_t Limit)
{
    if (Text.isEmpty())
        return std::nullopt;
    uint64_t Value = 0;
    for (QChar C : Text) {
        const int Digit = DigitValue(C, Base);
        if (Digit < 0)
            return std::nullopt;
        Value = Value * uint64_t(Base) + uint64_t(Digit);
        if (Value > Limit)
            return std::nullopt;
    }
    return Value;
}

size_t HexPrefixLength(QStringView Text)
{
    if (Text.startsWith(u"0x") || Text.startsWith(u"0X"))
        return 2;
    if (Text.startsWith(u'$') || Text.startsWith(u'x') || Text.startsWith(u'X'))
        return 1;
    return 0;
}

} // namespace

bool TryStrToInt(const QString& Text, int32_t& Value)
{
    QStringView Rest(Text);
    while (Rest.startsWith(u' '))
        Rest = Rest.mid(1);

    bool Negative = false;
    if (Rest.startsWith(u'+') || Rest.startsWith(u'-')) {
        Negative = Rest.front() == u'-';
        Rest = Rest.mid(1);
    }

    if (const size_t Prefix = HexPrefixLength(Rest); Prefix > 0) {
        const auto Magnitude = ParseMagnitude(Rest.mid(qsizetype(Prefix)), 16, 0xFFFFFFFFull);
        if (!Magnitude)
            return false;
        // The 32-bit pattern is the number: negation wraps like the machine's.
        const uint32_t Pattern = Negative ? 0u - uint32_t(*Magnitude) : uint32_t(*Magnitude);
        Value = static_cast<int32_t>(Pattern);
        return true;
    }

    const uint64_t Limit = Negative ? 0x80000000ull : 0x7FFFFFFFull;
    const auto Magnitude = ParseMagnitude(Rest, 10, Limit);
    if (!Magnitude)
        return false;
    Value = Negative ? static_cast<int32_t>(-static_cast<int64_t>(*Magnitude))
                     : static_cast<int32_t>(*Magnitude);
    return true;
}
