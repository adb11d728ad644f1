#include "cards/NameText.h"

#include <QStringDecoder>

#include <array>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; its five unused codes map to the C1
// controls of the same value, so every byte has a character and back.
constexpr std::array<char16_t, 32> Windows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t FromWindows1252(uint8_t Byte)
{
    return Byte >= 0x80 && Byte <= 0x9F ? Windows1252High[Byte - 0x80] : char16_t(Byte);
}

// The byte for a character, or -1 when Windows-1252 has none.
int ToWindows1252(char16_t Char)
{
    if (Char < 0x80 || (Char >= 0xA0 && Char <= 0xFF))
        return Char;
    for (size_t I = 0; I < Windows1252High.size(); ++I) {
        if (Windows1252High[I] == Char)
            return int(0x80 + I);
    }
    return -1;
}

} // namespace

QString NameToText(const QByteArray& Name)
{
    QStringDecoder Utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString Text = Utf8.decode(Name);
    if (!Utf8.hasError())
        return Text;
    Text.clear();
    Text.reserve(Name.size());
    for (char Byte : Name)
        Text.append(QChar(FromWindows1252(uint8_t(Byte))));
    return Text;
}

// Windows-1252 where it reads back as typed; bytes that happen to be valid UTF-8 ("Ã©") would
// read back as other text, so those names, and any Windows-1252 cannot hold, go as UTF-8.
QByteArray TextToName(const QString& Text)
{
    QByteArray Name;
    Name.reserve(Text.size());
    for (QChar Char : Text) {
        const int Byte = ToWindows1252(Char.unicode());
        if (Byte < 0)
            return Text.toUtf8();
        Name.append(char(Byte));
    }
    return NameToText(Name) == Text ? Name : Text.toUtf8();
}
