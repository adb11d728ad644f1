#include "cards/CardDatabaseFile.h"
#include "cards/NameText.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

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

// Whatever is typed comes back as typed, in memory and through a saved and loaded file.
TEST(NameText, TypedNamesComeBackExactlyThroughAFile)
{
    const QString LongName = QString(254, 'a') + QString::fromUtf8("é€日本"); // a character across byte 255
    const QString Names[] = {
        "Front door",
        QString::fromUtf8("Zoë Åberg"),
        QString::fromUtf8("„quoted“ – ‘dash’ … € ™ Ÿ"),
        QString::fromUtf8("Ã©"),           // its Windows-1252 bytes are valid UTF-8
        QString::fromUtf8("Â£10 Ã¼ber"),
        QString::fromUtf8("日本語"),
        QString::fromUtf8("🚪 door"),
        LongName,
        QString(),
    };
    TRfidTags Tags;
    for (const QString& Name : Names) {
        EXPECT_EQ(NameToText(TextToName(Name)), Name) << Name.toStdString();
        TRfidTag& Tag = Tags.Add();
        Tag.Bytes = {0, 0, 0, 0, uint8_t(Tags.Count())};
        Tag.Name = TextToName(Name);
    }
    QTemporaryDir Dir;
    SaveCardDatabaseFile(Dir.filePath("n.tdb"), Tags, {});
    const TLoadedCardDatabase Back = LoadCardDatabaseFile(Dir.filePath("n.tdb"));
    ASSERT_EQ(Back.Tags.Count(), Tags.Count());
    for (int I = 0; I < Back.Tags.Count(); ++I)
        EXPECT_EQ(NameToText(Back.Tags.Items(I).Name), Names[I]) << I;
}
