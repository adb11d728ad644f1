// Arbitrary text through the door dialog's integer conversion, read as Latin-1 and as UTF-16.
// There is no second implementation to compare with; instead the conversion must keep the
// relations that follow from its rule, and agree with Qt's own conversion on the plain forms
// (decimal digits only, "$" and hexadecimal digits only).

#include "fuzz/FuzzCheck.h"
#include "ui/IntegerText.h"

#include <QString>

#include <cstring>
#include <string_view>
#include <limits>
#include <optional>

namespace {

constexpr int32_t Untouched = 0x5A5A5A5A;

std::string Shown(const QString& Text) { return "\"" + Text.toStdString() + "\""; }

std::optional<int32_t> Convert(const QString& Text)
{
    int32_t Value = Untouched;
    if (TryStrToInt(Text, Value))
        return Value;
    if (Value != Untouched)
        Broken("a text that does not convert changed the value: " + Shown(Text));
    return std::nullopt;
}

void Expect(const QString& Text, std::optional<int32_t> Expected, const char* Why)
{
    if (Convert(Text) != Expected)
        Broken(std::string(Why) + ": " + Shown(Text));
}

bool OnlyOf(QStringView Text, const char* Allowed)
{
    if (Text.isEmpty())
        return false;
    for (QChar C : Text)
        if (C.unicode() > 127 || std::string_view(Allowed).find(char(C.unicode())) == std::string_view::npos)
            return false;
    return true;
}

void CheckAgainstQt(const QString& Text)
{
    if (OnlyOf(Text, "0123456789")) {
        bool Ok = false;
        const qlonglong Wide = Text.toLongLong(&Ok);
        const bool Fits = Ok && Wide <= std::numeric_limits<int32_t>::max();
        Expect(Text, Fits ? std::optional<int32_t>(int32_t(Wide)) : std::nullopt, "decimal digits");
    }
    if (Text.startsWith(u'$') && OnlyOf(QStringView(Text).mid(1), "0123456789abcdefABCDEF")) {
        bool Ok = false;
        const qulonglong Wide = Text.mid(1).toULongLong(&Ok, 16);
        const bool Fits = Ok && Wide <= std::numeric_limits<uint32_t>::max();
        Expect(Text, Fits ? std::optional<int32_t>(int32_t(uint32_t(Wide))) : std::nullopt, "hex digits");
    }
}

void CheckText(const QString& Text)
{
    const std::optional<int32_t> Got = Convert(Text);
    Expect(" " + Text, Got, "a leading space changed the result");
    Expect(Text + " ", std::nullopt, "a trailing space was accepted");
    CheckAgainstQt(Text);
    if (!Got)
        return;
    Expect(QString::number(*Got), Got, "the decimal form gives another number");
    Expect("$" + QString::number(uint32_t(*Got), 16), Got, "the hexadecimal form gives another number");
    const QChar First = Text.front();
    if (First != u' ' && First != u'+' && First != u'-') {
        Expect("+" + Text, Got, "a plus sign changed the number");
        Expect("-" + Text, int32_t(0u - uint32_t(*Got)), "a minus sign did not negate");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    CheckText(QString::fromLatin1(reinterpret_cast<const char*>(Data), qsizetype(Size)));
    std::u16string Wide(Size / 2, u'\0');
    std::memcpy(Wide.data(), Data, Wide.size() * 2);
    CheckText(QString::fromStdU16String(Wide));
    return 0;
}
