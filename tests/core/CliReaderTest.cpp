// dorvik-cli against a simulated reader on a pseudo-terminal.

#include "core/CliProgram.h"
#include "sim/SimReader.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

using Bytes5 = std::array<uint8_t, 5>;

Bytes5 Card(uint32_t Value, uint8_t Byte0 = 0)
{
    return {Byte0, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)};
}

std::vector<Bytes5> BytesOf(const TRfidTags& Tags)
{
    std::vector<Bytes5> Result;
    for (int I = 0; I < Tags.Count(); ++I)
        Result.push_back(Tags.Items(I).Bytes);
    return Result;
}

class CliReader : public ::testing::Test
{
protected:
    sim::SimReader Sim;
    QTemporaryDir Dir;
    const std::vector<Bytes5> Three = {Card(1234567, 0x01), Card(5, 0x7F), Card(4294967295u)};

    QString Port() const { return QString::fromStdString(Sim.PortName()); }
    QString Path(const char* Name) const { return Dir.filePath(QString::fromLatin1(Name)); }

    CliRun Run(QStringList Args) { return RunCli(Args); }
};

// ---- read

TEST_F(CliReader, ReadsTheReadersCardsMasterAndDoorIntoAFile)
{
    Sim.SetCards(Three);
    Sim.SetMaster(2);
    Sim.SetDoor(2, 30);
    const CliRun R = Run({"read", Port(), "-o", Path("out.tdb")});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();

    const TLoadedCardDatabase File = LoadCardDatabaseFile(Path("out.tdb"));
    EXPECT_EQ(BytesOf(File.Tags), Three);
    EXPECT_EQ(File.Master, 2u);
    const QByteArray Raw = FileBytes(Path("out.tdb"));
    EXPECT_EQ(uint8_t(Raw[5]), 2); // the door settings the reader reported
    EXPECT_EQ(uint8_t(Raw[6]), 30);
    EXPECT_TRUE(R.Out.contains("3 cards")) << R.Out.toStdString();
}

TEST_F(CliReader, ReadCarriesNamesOverByCardValue)
{
    Sim.SetCards(Three);
    // Byte 0 differs from the reader's: the value alone decides which card it is.
    WriteCardFile(Path("names.tdb"), {{Card(5, 0x00), "Bob"}, {Card(777), "Gone"}, {Card(1234567, 0x01), "Al"}});
    const CliRun R = Run({"read", Port(), "-o", Path("out.tdb"), "-n", Path("names.tdb")});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();

    const TLoadedCardDatabase File = LoadCardDatabaseFile(Path("out.tdb"));
    ASSERT_EQ(BytesOf(File.Tags), Three);
    EXPECT_EQ(File.Tags.Items(0).Name, "Al");
    EXPECT_EQ(File.Tags.Items(1).Name, "Bob");
    EXPECT_EQ(File.Tags.Items(2).Name, "");
}

// ---- write

TEST_F(CliReader, WritesAFilesCardsAndMasterToTheReader)
{
    WriteCardFile(Path("in.tdb"), {{Three[0], "A"}, {Three[1], "B"}, {Three[2], "C"}}, 1);
    const CliRun R = Run({"write", Port(), Path("in.tdb")});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    EXPECT_EQ(Sim.Cards(), Three);
    EXPECT_EQ(Sim.Master(), 1);
}

TEST_F(CliReader, VerifyReadsBackAndCatchesAReaderThatDidNotKeepTheCards)
{
    WriteCardFile(Path("in.tdb"), {{Three[0], ""}, {Three[1], ""}, {Three[2], ""}}, 2);
    CliRun R = Run({"write", Port(), Path("in.tdb"), "--verify"});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    EXPECT_TRUE(R.Out.contains("verified")) << R.Out.toStdString();
    EXPECT_EQ(Sim.Cards(), Three);

    // A reader that loses the last card once the write has ended.
    Sim.SetObserver([this](sim::SimReader::Direction Way, const sim::Frame& F) {
        if (Way == sim::SimReader::Direction::Received && F[2] == 9)
            Sim.SetCards({Three[0], Three[1]});
    });
    R = Run({"write", Port(), Path("in.tdb"), "--verify"});
    Sim.SetObserver(nullptr);
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.Err.contains("Verify failed")) << R.Err.toStdString();

    Sim.SetObserver([this](sim::SimReader::Direction Way, const sim::Frame& F) {
        if (Way == sim::SimReader::Direction::Received && F[2] == 9)
            Sim.SetMaster(0);
    });
    R = Run({"write", Port(), Path("in.tdb"), "--verify"});
    Sim.SetObserver(nullptr);
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.Err.contains("master")) << R.Err.toStdString();
}

TEST_F(CliReader, WriteTakes250CardsAndRefuses251BeforeSendingAnything)
{
    TRfidTags Tags;
    for (uint32_t I = 0; I < 251; ++I)
        Tags.Add().Bytes = Card(1000 + I);
    SaveCardDatabaseFile(Path("251.tdb"), Tags, {});
    CliRun R = Run({"write", Port(), Path("251.tdb")});
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.Err.contains("Too many cards (251/250). Please remove 1 cards.")) << R.Err.toStdString();
    EXPECT_TRUE(Sim.ReceivedFrames().empty());

    Tags.Delete(250);
    SaveCardDatabaseFile(Path("250.tdb"), Tags, {});
    R = Run({"write", Port(), Path("250.tdb")});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    EXPECT_EQ(Sim.Cards().size(), 250u);
}

// ---- door

TEST_F(CliReader, DoorShowsAndSetsTheSettings)
{
    Sim.SetDoor(1, 10);
    CliRun R = Run({"door", Port()});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    EXPECT_EQ(R.Out, "Mode: momentary\nDelay: 10\n");

    R = Run({"door", Port(), "--mode", "timed", "--delay", "30"});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    EXPECT_EQ(Sim.DoorMode(), 2);
    EXPECT_EQ(Sim.DoorDelay(), 30);
    EXPECT_EQ(R.Out, "Mode: timed\nDelay: 30\n");

    // The setting not given keeps the reader's value.
    R = Run({"door", Port(), "--mode", "lock-unlock"});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    EXPECT_EQ(Sim.DoorMode(), 0);
    EXPECT_EQ(Sim.DoorDelay(), 30);
    R = Run({"door", Port(), "--delay", "255"});
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    EXPECT_EQ(Sim.DoorMode(), 0);
    EXPECT_EQ(Sim.DoorDelay(), 255);
}

TEST_F(CliReader, DoorRefusesABadDelayOrModeWithoutTouchingTheReader)
{
    for (const char* Delay : {"0", "256", "-1", "ten"}) {
        const CliRun R = Run({"door", Port(), "--mode", "timed", "--delay", Delay});
        EXPECT_EQ(R.Status, 2) << Delay;
        EXPECT_TRUE(R.Err.contains("Invalid unlock delay")) << R.Err.toStdString();
    }
    const CliRun R = Run({"door", Port(), "--mode", "open-sesame"});
    EXPECT_EQ(R.Status, 2);
    EXPECT_TRUE(R.Err.contains("open-sesame")) << R.Err.toStdString();
    EXPECT_TRUE(Sim.ReceivedFrames().empty());
}

// ---- failures

TEST_F(CliReader, ASilentReaderTimesOutWithAClearMessageAndNoFile)
{
    Sim.SetSilent(true);
    const QByteArray Before = "an older backup";
    {
        QFile Old(Path("out.tdb"));
        ASSERT_TRUE(Old.open(QIODevice::WriteOnly));
        Old.write(Before);
    }
    WriteCardFile(Path("in.tdb"), {{Three[0], ""}});
    const QList<QStringList> Commands = {{"read", Port(), "-o", Path("out.tdb")},
                                         {"write", Port(), Path("in.tdb")},
                                         {"door", Port()}};
    for (QStringList Args : Commands) {
        Args << "--timeout" << "0.3";
        const CliRun R = Run(Args);
        EXPECT_EQ(R.Status, 1) << Args.join(' ').toStdString();
        EXPECT_TRUE(R.Err.contains("No answer from the reader on " + Port() + " within 0.3 s"))
            << R.Err.toStdString();
        EXPECT_EQ(R.Err.count('\n'), 1) << R.Err.toStdString();
    }
    EXPECT_EQ(FileBytes(Path("out.tdb")), Before);
}

TEST_F(CliReader, APortThatCannotBeOpenedIsReportedWithTheSystemsReason)
{
    const CliRun R = Run({"read", Dir.filePath("ttyNothing"), "-o", Path("out.tdb")});
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.Err.contains("No such file or directory")) << R.Err.toStdString();
    EXPECT_TRUE(R.Err.contains("Unable to open com port")) << R.Err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("out.tdb")));
}

TEST_F(CliReader, ABadFileIsRefusedWithTheFileLayersMessageBeforeThePortIsUsed)
{
    QFile Bad(Path("bad.tdb"));
    ASSERT_TRUE(Bad.open(QIODevice::WriteOnly));
    Bad.write(QByteArray("tdbf").append(20, '\0'));
    Bad.close();
    CliRun R = Run({"write", Port(), Path("bad.tdb")});
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.Err.contains("The file you selected is not a valid database file.")) << R.Err.toStdString();

    Sim.SetCards(Three);
    R = Run({"read", Port(), "-o", Path("out.tdb"), "-n", Path("bad.tdb")});
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.Err.contains("The file you selected is not a valid database file.")) << R.Err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("out.tdb")));
    EXPECT_TRUE(Sim.ReceivedFrames().empty());
}

} // namespace
