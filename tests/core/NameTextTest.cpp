#include "cards/NameText.h"

#include <gtest/gtest.h>

TEST(NameText, BytesShowAsUtf8WhenValidElseAsWindows1252)
{
    EXPECT_EQ(NameToText("Front door"), "Front door");
    EXPECT_EQ(NameToText("T\xC3\xBCr"), QString::fromUtf8("Tür"));            // UTF-8
    EXPECT_EQ(NameToText("T\xFCr"), QString::fromUtf8("Tür"));                // Windows-1252
    EXPECT_EQ(NameToText("\x80 \x9F \x8D"), QString::fromUtf8("€ Ÿ \u008D")); // its own high half
    EXPECT_EQ(NameToText(QByteArray("a\0b", 3)), QString::fromUtf8("a\0b", 3));
}

TEST(NameText, TypedTextIsWindows1252WhenItFitsElseUtf8)
{
    EXPECT_EQ(TextToName(QString::fromUtf8("Tür €")), QByteArray("T\xFCr \x80"));
    EXPECT_EQ(TextToName(QString::fromUtf8("Łódź")), QByteArray("\xC5\x81\xC3\xB3\x64\xC5\xBA"));
    EXPECT_EQ(TextToName(""), QByteArray());
}

TEST(NameText, EveryWindows1252NameComesBackByteForByte)
{
    // Names from other PCs are kept exactly when shown and typed back unchanged, as long as they
    // are not also valid UTF-8.
    for (int Byte = 0x80; Byte <= 0xFF; ++Byte) {
        const QByteArray Name = QByteArray("x") + char(Byte);
        EXPECT_EQ(TextToName(NameToText(Name)), Name) << Byte;
    }
}
