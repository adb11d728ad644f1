// A reader behind a network server that lies or floods: no command reports a success it did
// not have, none runs without end, and the read-owner rule holds for every caller.

#include "core/CliProgram.h"
#include "reader/Dorvik.h"
#include "support/LyingReader.h"
#include "support/SimCards.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>

using namespace std::chrono_literals;

TEST(LyingReader, NoCommandReportsASuccessItDidNotHave)
{
    QTemporaryDir Dir;
    const QString File = Dir.filePath("five.tdb");
    WriteCardFile(File, {{Card(1), "A"}, {Card(2), "B"}, {Card(3), "C"}, {Card(4), "D"}, {Card(5), "E"}}, 1);
    const struct
    {
        Lies How;
        QStringList Args; // after the port
        QString Said;     // on stderr or in the row
    } Cases[] = {
        {{.KeepCards = 2, .LoseFrame3 = true}, {"write", "PORT", File, "--verify"}, "Verify failed: the reader holds 2 of 5 cards"},
        {{.LoseFrame3 = true}, {"write", "PORT", File, "--verify"}, "came without its first frame"},
        {{.KeepCards = 2, .LoseFrame3 = true}, {"sync", File, "PORT"}, "failed: Verify failed: the reader holds 2 of 5 cards"},
        {{.UnknownInWrite = true}, {"sync", File, "PORT"}, "failed: Unknown command"},
        {{.EndlessRead = true}, {"read", "PORT", "-o", Dir.filePath("out.tdb"), "--timeout", "1"}, "more than 1000 cards"},
    };
    for (const auto& C : Cases) {
        LyingReader Reader(C.How);
        QStringList Args = C.Args;
        Args.replaceInStrings("PORT", Reader.Server().Url());
        QElapsedTimer Clock;
        Clock.start();
        const CliRun R = RunCli(Args);
        EXPECT_EQ(R.Status, 1) << Args.join(' ').toStdString() << "\n" << R.Out.toStdString();
        EXPECT_TRUE((R.Out + R.Err).contains(C.Said)) << Args.join(' ').toStdString() << "\n" << (R.Out + R.Err).toStdString();
        EXPECT_LT(Clock.elapsed(), 20000) << Args.join(' ').toStdString();
    }
}

// A load (or a new master) during a read ends the read there and then: the read given up later
// by the watchdog puts nothing back over it.
TEST(LyingReader, AChangeOfTheListEndsARunningReadForEveryCaller)
{
    QTemporaryDir Dir;
    const QString File = Dir.filePath("loaded.tdb");
    WriteCardFile(File, {{Card(77), "Loaded"}}, 0);
    for (const bool ByLoad : {true, false}) {
        RogueServer Stalling([](const std::string& In) {
            // Frame 3 and one card for a read, then nothing more.
            return In.find("\x42\x04\x02\xFF") != std::string::npos ? std::string("\x42\x05\x03\xFF\x00\x42\x09\x04\xFF\x00\x00\x00\x00\x09", 14)
                                                                     : std::string();
        });
        TDorvik Reader;
        Reader.Tags().Add().Bytes = Card(1);
        Reader.SetStallTimeout(200);
        Reader.SetPort(Stalling.Url());
        Reader.Connect();
        Reader.ReadDatabase();
        ASSERT_TRUE(WaitUntil([&] { return Reader.Tags().Count() == 1 && Reader.Tags().Items(0).Bytes == Card(9); }));
        if (ByLoad)
            Reader.LoadFromFile(File);
        else
            Reader.SetMaster(0);
        EXPECT_FALSE(Reader.ReadActive());
        Pump(600ms); // past the watchdog
        ASSERT_EQ(Reader.Tags().Count(), 1);
        EXPECT_EQ(Reader.Tags().Items(0).Bytes, ByLoad ? Card(77) : Card(1));
    }
}
