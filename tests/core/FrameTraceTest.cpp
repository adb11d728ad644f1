#include "reader/Dorvik.h"
#include "sim/SimReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QStringList>

#include <mutex>
#include <string>

namespace {

// Qt's message handler is a plain function, so what it catches has to live at file scope.
struct TraceCatch
{
    std::mutex Mutex;
    QStringList Lines;
    QtMessageHandler Previous = nullptr;
};
TraceCatch Caught;

void CatchTrace(QtMsgType Type, const QMessageLogContext& Context, const QString& Message)
{
    if (qstrcmp(Context.category, "dorvik.frames") != 0) {
        if (Caught.Previous)
            Caught.Previous(Type, Context, Message);
        return;
    }
    std::lock_guard Lock(Caught.Mutex);
    Caught.Lines << Message;
}

// A reader component connected to a simulated reader, with the trace's lines caught.
class FrameTraceTest : public ::testing::Test
{
protected:
    sim::SimReader Sim;
    TDorvik Reader;
    bool UpdateEnded = false;

    void SetUp() override
    {
        {
            std::lock_guard Lock(Caught.Mutex);
            Caught.Lines.clear();
        }
        Caught.Previous = qInstallMessageHandler(CatchTrace);
        Reader.OnEndUpdate = [this](QObject*) { UpdateEnded = true; };
        Reader.SetPort(QString::fromStdString(Sim.PortName()));
        Reader.Connect();
    }

    void TearDown() override
    {
        Reader.Disconnect();
        qInstallMessageHandler(Caught.Previous);
        QLoggingCategory::setFilterRules(QString());
    }

    // One text, so a failure prints readably.
    std::string Lines()
    {
        std::lock_guard Lock(Caught.Mutex);
        return Caught.Lines.join('\n').toStdString();
    }

    // An empty write and a swipe: frames both ways, with and without payload.
    void Exchange()
    {
        Reader.SetMaster(3);
        Reader.WriteDatabase();
        ASSERT_TRUE(WaitUntil([&] { return UpdateEnded; }));
        TRfidTag Swiped;
        Reader.OnCardSwipe = [&](QObject*, TRfidTag& Tag) { Swiped = Tag; };
        Sim.Swipe({0x00, 0x00, 0x12, 0xD6, 0x87});
        ASSERT_TRUE(WaitUntil([&] { return Swiped.Bytes[4] == 0x87; }));
    }
};

} // namespace

TEST_F(FrameTraceTest, EitherRuleLogsEveryFrameBothWaysInOrder)
{
    for (const char* Rule : {"dorvik.frames=true", "dorvik.frames.debug=true"}) {
        SCOPED_TRACE(Rule);
        QLoggingCategory::setFilterRules(QString::fromLatin1(Rule));
        {
            std::lock_guard Lock(Caught.Mutex);
            Caught.Lines.clear();
        }
        UpdateEnded = false;
        Exchange();
        EXPECT_EQ(Lines(), "-> 42 05 06 FF 03\n"
                           "<- 42 04 06 FF\n"
                           "-> 42 04 09 FF\n"
                           "<- 42 04 09 FF\n"
                           "<- 42 09 01 FF 00 00 12 D6 87");
    }
}

TEST_F(FrameTraceTest, LogsNothingUnlessTurnedOn)
{
    Exchange();
    EXPECT_EQ(Lines(), "");
}
