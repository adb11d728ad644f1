#include "cards/CardDatabaseFile.h"
#include "core/RawLine.h"
#include "reader/Dorvik.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

namespace {

QByteArray NextLine(QProcess& Program)
{
    while (!Program.canReadLine()) {
        if (!Program.waitForReadyRead(10000))
            return {};
    }
    return Program.readLine().trimmed();
}

// Starts the program and, unless told otherwise, opens its port as the manager would.
struct Running
{
    enum TPortUse { OpenRaw, LeaveClosed };

    QProcess Program;
    QString PortPath;
    std::unique_ptr<RawLine> Port;

    explicit Running(const QStringList& Arguments, TPortUse Use = OpenRaw)
    {
#ifdef DORVIK_VIRTUAL_READER
        Program.start(DORVIK_VIRTUAL_READER, Arguments);
#endif
        const QByteArray First = NextLine(Program);
        if (!First.startsWith("Port: /"))
            return;
        PortPath = QString::fromLocal8Bit(First.mid(6));
        if (Use == LeaveClosed)
            return;
        Port = std::make_unique<RawLine>(PortPath.toStdString());
        Port->MakeRaw();
    }

    void Type(const char* Text)
    {
        Program.write(Text);
        Program.waitForBytesWritten(10000);
    }

    QByteArray Quit()
    {
        Type("q\n");
        Program.waitForFinished(10000);
        return Program.readAllStandardOutput();
    }
};

// What the reader component reports while a test runs.
struct CaughtReports
{
    QStringList Messages;
    TExceptionReporter Previous =
        SetExceptionReporter([this](const std::exception& E) { Messages << E.what(); });
    ~CaughtReports() { SetExceptionReporter(Previous); }
};

} // namespace

TEST(VirtualReaderProgram, PlaysTheReaderAndSavesWhatTheManagerWrote)
{
#ifndef DORVIK_VIRTUAL_READER
    GTEST_SKIP() << "built without the virtual reader";
#endif
    QTemporaryDir Dir;
    const QString Saved = Dir.filePath("held.tdb");
    Running Reader({"--save", Saved});
    ASSERT_TRUE(Reader.Port && Reader.Port->IsOpen());

    ASSERT_TRUE(Reader.Port->Write(Hex("42 04 02 FF")));
    const QByteArray Database = Reader.Port->Read(36);
    EXPECT_TRUE(Database.startsWith(Hex("42 05 03 FF 00 42 09 04 FF"))) << Database.toHex(' ').data();
    EXPECT_TRUE(Database.endsWith(Hex("42 04 05 FF"))) << Database.toHex(' ').data();

    ASSERT_TRUE(Reader.Port->Write(Hex("42 05 06 FF 00")));
    EXPECT_EQ(Reader.Port->Read(4), Hex("42 04 06 FF"));
    ASSERT_TRUE(Reader.Port->Write(Hex("42 09 07 FF 01 00 12 D6 87")));
    EXPECT_EQ(Reader.Port->Read(4), Hex("42 04 08 FF"));
    ASSERT_TRUE(Reader.Port->Write(Hex("42 04 09 FF")));
    EXPECT_EQ(Reader.Port->Read(4), Hex("42 04 09 FF"));

    Reader.Type("0x1234\n4660x\n");
    EXPECT_EQ(Reader.Port->Read(9), Hex("42 09 01 FF 00 00 00 12 34"));

    const QByteArray Output = Reader.Quit();
    EXPECT_EQ(Reader.Program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Reader.Program.exitCode(), 0);
    EXPECT_TRUE(Output.contains("<- 07 card  01 00 12 D6 87")) << Output.data();
    EXPECT_TRUE(Output.contains("-> 01 swipe  00 00 00 12 34")) << Output.data();
    EXPECT_TRUE(Reader.Program.readAllStandardError().contains("Unknown command \"4660x\""));

    TLoadedCardDatabase Held = LoadCardDatabaseFile(Saved);
    ASSERT_EQ(Held.Tags.Count(), 1);
    EXPECT_EQ(Held.Tags.Items(0).Bytes, (std::array<uint8_t, 5>{0x01, 0x00, 0x12, 0xD6, 0x87}));
}

TEST(VirtualReaderProgram, StartsFromAFileAndKeepsNamesAndDoorThroughSigterm)
{
#ifndef DORVIK_VIRTUAL_READER
    GTEST_SKIP() << "built without the virtual reader";
#endif
    QTemporaryDir Dir;
    const QString Original = Dir.filePath("original.tdb");
    const QString Saved = Dir.filePath("saved.tdb");
    {
        TRfidTags Tags;
        Tags.Add().Bytes = {0x00, 0x00, 0x00, 0x00, 0x07};
        TRfidTag& Named = Tags.Add();
        Named.Bytes = {0x01, 0x00, 0x12, 0xD6, 0x87};
        Named.Name = "Al";
        SaveCardDatabaseFile(Original, Tags, TCardDatabaseHeader{1, 2, 30});
    }
    Running Reader({"--quiet", Original, "--save", Saved});
    ASSERT_TRUE(Reader.Port && Reader.Port->IsOpen());

    ASSERT_TRUE(Reader.Port->Write(Hex("42 04 0B FF")));
    EXPECT_EQ(Reader.Port->Read(6), Hex("42 06 0A FF 02 1E"));
    ASSERT_TRUE(Reader.Port->Write(Hex("42 04 02 FF")));
    EXPECT_EQ(Reader.Port->Read(5), Hex("42 05 03 FF 01"));

    Reader.Program.terminate();
    ASSERT_TRUE(Reader.Program.waitForFinished(10000));
    EXPECT_EQ(Reader.Program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Reader.Program.exitCode(), 0);
    EXPECT_FALSE(Reader.Program.readAllStandardOutput().contains("<-"));

    QFile SavedFile(Saved), OriginalFile(Original);
    ASSERT_TRUE(SavedFile.open(QIODevice::ReadOnly) && OriginalFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(SavedFile.readAll(), OriginalFile.readAll());
}

TEST(VirtualReaderProgram, ScriptedSwipesReachAConnectedReader)
{
#ifndef DORVIK_VIRTUAL_READER
    GTEST_SKIP() << "built without the virtual reader";
#endif
    CaughtReports Reports; // outlives the reader, which may still report as it goes
    Running Program({"--quiet"}, Running::LeaveClosed);
    ASSERT_FALSE(Program.PortPath.isEmpty());

    QStringList Swiped;
    TDorvik Reader;
    Reader.OnCardSwipe = [&](QObject*, TRfidTag& Tag) { Swiped << Tag.CardNumber(); };
    Reader.SetPort(Program.PortPath);
    Reader.Connect();

    Program.Type("1234567\n0xBC614E\nswipe\n0\n0XFFFFFFFF\n");
    EXPECT_TRUE(WaitUntil([&] { return Swiped.size() >= 4; }, std::chrono::seconds(10)));
    EXPECT_EQ(Swiped.join(" | ").toStdString(),
              "0001234567 018,54919 | 0012345678 188,24910 | 0000000000 000,0 | "
              "4294967295 65535,65535");

    Reader.Disconnect();
    Program.Quit();
    EXPECT_EQ(Program.Program.exitCode(), 0);
    EXPECT_EQ(Reports.Messages, QStringList());
}
