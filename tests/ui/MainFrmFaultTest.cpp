// The main window against a reader that misbehaves: a line flooded with frames the program does
// not know, and a reader that hangs up in the middle of a read. The program must keep one error
// box at a time, keep the user's list, and stay usable without a restart.

#include "reader/Dorvik.h"
#include "sim/SimReader.h"
#include "support/MainFormDriver.h"
#include "support/SimCards.h"
#include "support/ModalHelper.h"
#include "support/ModalScript.h"
#include "support/TestSupport.h"
#include "ui/MainFrm.h"
#include "ui/MessageBoxes.h"
#include "ui/ProgressFrm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QToolButton>
#include <QTreeView>

#include <optional>

using namespace std::chrono_literals;

namespace {

// Count frames of 4 to 9 bytes with codes that mean nothing to the program.
std::vector<uint8_t> UnknownFrames(int Count)
{
    const uint8_t Codes[] = {0, 2, 7, 11, 12, 0x41, 0x42, 0x80, 0xFF};
    std::vector<uint8_t> Bytes;
    for (int I = 0; I < Count; ++I) {
        const uint8_t Length = uint8_t(4 + I % 6);
        Bytes.insert(Bytes.end(), {0x42, Length, Codes[size_t(I) % std::size(Codes)], 0xFF});
        Bytes.insert(Bytes.end(), Length - 4u, uint8_t(I));
    }
    return Bytes;
}

bool IsErrorReport(const QWidget* W)
{
    return qobject_cast<const QMessageBox*>(W) && W->windowTitle() == QLatin1String(ApplicationTitle);
}

int VisibleErrorReports(const QWidget* Besides = nullptr)
{
    int Count = 0;
    for (const QWidget* W : QApplication::topLevelWidgets())
        Count += W != Besides && W->isVisible() && IsErrorReport(W) ? 1 : 0;
    return Count;
}

// Notes how many general error reports are on the screen whenever one appears, and answers
// every one with its OK button after it has stood for a moment, as a person would while the
// line goes on bringing more.
class TErrorReportWatch : public QObject
{
public:
    int Opened = 0;
    int MostAtOnce = 0;

    TErrorReportWatch()
    {
        qApp->installEventFilter(this);
        FCloser.setInterval(25);
        connect(&FCloser, &QTimer::timeout, this, &TErrorReportWatch::CloseThoseSeenBefore);
        FCloser.start();
    }
    ~TErrorReportWatch() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        auto* W = qobject_cast<QWidget*>(Watched);
        if (Event->type() == QEvent::Show && W && W->isWindow() && IsErrorReport(W)) {
            ++Opened;
            MostAtOnce = std::max(MostAtOnce, 1 + VisibleErrorReports(W));
        }
        return false;
    }

private:
    void CloseThoseSeenBefore()
    {
        QList<QPointer<QWidget>> Now;
        for (QWidget* W : QApplication::topLevelWidgets())
            if (W->isVisible() && IsErrorReport(W))
                Now << W;
        for (const QPointer<QWidget>& W : Now)
            if (W && FSeen.contains(W))
                ClickButton(W, "OK");
        FSeen = Now;
    }

    QTimer FCloser;
    QList<QPointer<QWidget>> FSeen;
};

// A modal window that nobody answers would hold the test forever: after a while it fails the
// test with what it showed and is closed.
class TUnansweredModalGuard
{
public:
    TUnansweredModalGuard()
    {
        FTimer.setInterval(250);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Check(); });
        FTimer.start();
    }

private:
    void Check()
    {
        QWidget* Modal = QApplication::activeModalWidget();
        if (Modal != FModal) {
            FModal = Modal;
            FSince.setRemainingTime(5s);
        } else if (Modal && FSince.hasExpired()) {
            ADD_FAILURE() << "unanswered window \"" << Modal->windowTitle().toStdString()
                          << "\": " << ModalText(Modal).toStdString();
            Modal->close();
        }
    }

    QTimer FTimer;
    QPointer<QWidget> FModal;
    QDeadlineTimer FSince;
};

class MainFormFaultTest : public ::testing::Test
{
protected:
    int Reports = 0;
    TExceptionReporter Previous;
    sim::SimReader Sim;
    std::optional<sim::SimReader> Replacement;
    std::unique_ptr<TMainForm> Form;
    TProgressForm* Progress = nullptr;
    TUnansweredModalGuard Guard;

    void SetUp() override
    {
        // The program's own report, counted.
        Previous = SetExceptionReporter([this](const std::exception& E) {
            ++Reports;
            ShowErrorReport(E);
        });
        qputenv("DORVIK_EXTRA_PORTS", QByteArray::fromStdString(Sim.PortName()));
        Form = ShowMainForm(Progress);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    }
    void TearDown() override
    {
        Form.reset();
        qunsetenv("DORVIK_EXTRA_PORTS");
        SetExceptionReporter(Previous);
    }

    TDorvik& Reader() { return *Form->CardReader(); }
    QAbstractItemModel* Model() { return Form->findChild<QTreeView*>("lstCards")->model(); }
    QAction* Action(const char* Name) { return Form->findChild<QAction*>(Name); }
    int Rows() { return Model()->rowCount(); }

    QStringList Column(int Column)
    {
        QStringList Texts;
        for (int Row = 0; Row < Rows(); ++Row)
            Texts << Model()->index(Row, Column).data().toString();
        return Texts;
    }

    // The enable rules run only when the event loop really waits.
    void Settle()
    {
        QEventLoop Idle;
        QTimer::singleShot(30ms, &Idle, &QEventLoop::quit);
        Idle.exec();
    }

    void ClickThrough(const char* ButtonName, std::initializer_list<TModalScript::TAnswer> Answers)
    {
        TModalScript Script(Answers);
        Settle();
        auto* Button = Form->findChild<QToolButton*>(ButtonName);
        ASSERT_TRUE(Button && Button->isEnabled()) << ButtonName;
        QTest::mouseClick(Button, Qt::LeftButton);
        EXPECT_TRUE(WaitUntil([&] { return Script.Done() && !QApplication::activeModalWidget(); }, 20s))
            << ButtonName << ": " << Script.Answered() << " of " << Answers.size() << " windows answered";
    }

    void Connect()
    {
        ClickThrough("btnConnect", {Box("&OK")});
        ASSERT_TRUE(Reader().Connected());
        Pump(100ms); // the door settings asked for on connecting come back
    }

    // A read through the Read command, answered OK, until the view shows Count rows.
    void ReadThroughTheWindow(int Count)
    {
        ClickThrough("btnRead", {Box("OK")});
        EXPECT_TRUE(WaitUntil([&] { return Rows() == Count && !Progress->isVisible(); }, 20s)) << Rows() << " rows";
    }
};

} // namespace

TEST_F(MainFormFaultTest, AFloodOfUnknownFramesShowsOneErrorBoxAtATimeAndAReadStillWorks)
{
    Connect();
    constexpr int Bursts = 3;
    constexpr int FramesPerBurst = 300;
    TErrorReportWatch Watch;
    for (int Burst = 1; Burst <= Bursts; ++Burst) {
        Sim.SendRaw(UnknownFrames(FramesPerBurst));
        // An unknown frame ends the handling of the bytes that came with it; the rest is handled
        // as more bytes arrive, as they keep doing on a noisy line, also while a box is open.
        QTimer Noise;
        QObject::connect(&Noise, &QTimer::timeout, [&] { Sim.SendRaw({0}); });
        Noise.start(2);
        ASSERT_TRUE(WaitUntil([&] { return Reports == Burst * FramesPerBurst && VisibleErrorReports() == 0; }, 60s))
            << "burst " << Burst << ": " << Reports << " reports, " << VisibleErrorReports() << " boxes open";
    }
    EXPECT_GE(Watch.Opened, Bursts);
    EXPECT_LT(Watch.Opened, Bursts * FramesPerBurst); // reports came while a box was open
    EXPECT_EQ(Watch.MostAtOnce, 1) << Watch.Opened << " boxes opened";
    EXPECT_TRUE(Reader().Connected());

    Sim.SetCards(Cards(3, 70, 1));
    ReadThroughTheWindow(3);
    EXPECT_EQ(Column(1), (QStringList{"0000000070 000,70", "0000000071 000,71", "0000000072 000,72"}));
    EXPECT_EQ(Reports, Bursts * FramesPerBurst);
}

TEST_F(MainFormFaultTest, AHangUpDuringAReadKeepsTheListAndAFreshReaderCanBeConnected)
{
    Connect();
    for (const char* Name : {"Haupteingang", "T\xFCr S\xFC" "d", "Lager", "Gate 4"}) {
        TRfidTag& Tag = Reader().Tags().Add();
        Tag.Bytes = Card(uint32_t(500 + Reader().Tags().Count()));
        Tag.Name = Name;
    }
    Reader().SetMaster(2);
    Form->RefreshCardList();
    const QStringList Numbers = Column(1), Names = Column(2), Masters = Column(3);
    ASSERT_EQ(Masters, (QStringList{"", "", "Yes", ""}));

    // A slow read of many cards, so the line goes while it runs.
    Sim.SetCards(Cards(100, 9000, 1));
    Sim.SetReplyDelay(20ms);
    TSeenBox Lost;
    TModalScript Script{Box("OK"), Box("OK", &Lost)};
    Settle();
    QTest::mouseClick(Form->findChild<QToolButton*>("btnRead"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Reader().Tags().Count() >= 10; }, 20s));
    EXPECT_EQ(Rows(), 0); // the view is empty while a read runs
    EXPECT_TRUE(Progress->isVisible());
    Sim.HangUp();
    ASSERT_TRUE(WaitUntil([&] { return Script.Done() && !QApplication::activeModalWidget(); }, 20s));

    EXPECT_EQ(Lost.Title, "Error");
    EXPECT_TRUE(Lost.Text.contains("connection to the card reader was lost")) << Lost.Text.toStdString();
    EXPECT_EQ(Reports, 0);
    EXPECT_FALSE(Progress->isVisible());
    EXPECT_FALSE(Reader().Connected());
    EXPECT_EQ(Column(1), Numbers);
    EXPECT_EQ(Column(2), Names);
    EXPECT_EQ(Column(3), Masters);
    EXPECT_EQ(Column(2)[1], QString::fromUtf8("Tür Süd"));
    EXPECT_FALSE(Reader().Busy());
    Settle();
    EXPECT_TRUE(Action("actConnect")->isEnabled());
    EXPECT_FALSE(Action("actRead")->isEnabled());

    // The adapter plugged in again shows up as a new port; no restart is needed.
    Replacement.emplace();
    Replacement->SetCards(Cards(2, 40, 1));
    qputenv("DORVIK_EXTRA_PORTS", QByteArray::fromStdString(Replacement->PortName()));
    Connect();
    Settle();
    EXPECT_TRUE(Action("actRead")->isEnabled());
    ReadThroughTheWindow(2);
    EXPECT_EQ(Column(1), (QStringList{"0000000040 000,40", "0000000041 000,41"}));
    EXPECT_EQ(Reports, 0);
}
