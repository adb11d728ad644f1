#pragma once

// The real main window against a simulated reader that the connection dialog offers, with what
// a test needs to work it as a person would. The reader can be unplugged and a fresh one plugged
// in (Replug).

#include "reader/Dorvik.h"
#include "sim/SimReader.h"
#include "support/ModalHelper.h"
#include "support/ModalScript.h"
#include "support/SimCards.h"
#include "support/TestSupport.h"
#include "ui/MainFrm.h"
#include "ui/ProgressFrm.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QToolButton>
#include <QTreeView>

#include <memory>

// An answer that notes what the box showed and clicks the button captioned Button.
inline TModalScript::TAnswer Box(const QString& Button, TSeenBox* Seen = nullptr)
{
    return [Button, Seen](QWidget* Modal) {
        if (Seen)
            *Seen = SeeBox(Modal);
        ClickButton(Modal, Button);
    };
}

// Types Path as the file name. selectFile() leaves the name field alone while it has the focus,
// which depends on when the window got activated.
inline void SelectFile(QFileDialog* Files, const QString& Path)
{
    Files->selectFile(Path);
    if (auto* Name = Files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        Name->setText(Path);
}

// A file dialog answered with a file; anything else fails the test and is closed.
inline TModalScript::TAnswer PickFile(const QString& Path)
{
    return [Path](QWidget* Modal) {
        auto* Files = qobject_cast<QFileDialog*>(Modal);
        if (!Files) {
            ADD_FAILURE() << "expected a file dialog, got " << Modal->windowTitle().toStdString();
            Modal->close();
            return;
        }
        SelectFile(Files, Path);
        static_cast<QDialog*>(Files)->accept();
    };
}

// The main window with the program's one progress window, shown as at start-up (the caller
// waits for it to be exposed).
inline std::unique_ptr<TMainForm> ShowMainForm(TProgressForm*& Progress)
{
    auto Form = std::make_unique<TMainForm>();
    Progress = new TProgressForm(Form.get());
    Form->SetProgressForm(Progress);
    Form->show();
    return Form;
}

class MainFormDriver : public ::testing::Test
{
protected:
    QStringList Reports;
    TExceptionReporter Previous;
    std::unique_ptr<sim::SimReader> Sim = std::make_unique<sim::SimReader>();
    std::unique_ptr<TMainForm> Form;
    TProgressForm* Progress = nullptr;

    void SetUp() override
    {
        Previous = SetExceptionReporter([this](const std::exception& E) { Reports << E.what(); });
        OfferSim();
        Form = ShowMainForm(Progress);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    }
    void TearDown() override
    {
        Form.reset();
        qunsetenv("DORVIK_EXTRA_PORTS");
        SetExceptionReporter(Previous);
    }

    void OfferSim() { qputenv("DORVIK_EXTRA_PORTS", QByteArray::fromStdString(Sim->PortName())); }
    // The reader is unplugged (if it was not yet) and a fresh one takes its place.
    void Replug()
    {
        Sim->HangUp();
        Sim = std::make_unique<sim::SimReader>();
        OfferSim();
    }

    TDorvik& Reader() { return *Form->CardReader(); }
    QTreeView* List() { return Form->findChild<QTreeView*>("lstCards"); }
    QAbstractItemModel* Model() { return List()->model(); }
    QAction* Action(const char* Name) { return Form->findChild<QAction*>(Name); }
    QToolButton* Button(const char* Name) { return Form->findChild<QToolButton*>(Name); }
    QString Cell(int Row, int Column) { return Model()->index(Row, Column).data().toString(); }
    int Rows() { return Model()->rowCount(); }
    QStringList Column(int Column)
    {
        QStringList Texts;
        for (int Row = 0; Row < Rows(); ++Row)
            Texts << Cell(Row, Column);
        return Texts;
    }

    // Lets the event loop go idle (it must really wait) so the enable rules run.
    void Settle()
    {
        QEventLoop Idle;
        QTimer::singleShot(std::chrono::milliseconds(30), &Idle, &QEventLoop::quit);
        Idle.exec();
    }

    void Click(const char* ButtonName)
    {
        Settle();
        QToolButton* B = Button(ButtonName);
        ASSERT_NE(B, nullptr) << ButtonName;
        ASSERT_TRUE(B->isEnabled()) << ButtonName << " is disabled";
        QTest::mouseClick(B, Qt::LeftButton);
    }

    // Clicks a command and answers the modal windows that follow, in order.
    void ClickThrough(const char* ButtonName, std::initializer_list<TModalScript::TAnswer> Answers)
    {
        TModalScript Script(Answers);
        Click(ButtonName);
        EXPECT_TRUE(WaitUntil([&] { return Script.Done() && !QApplication::activeModalWidget(); }))
            << ButtonName << ": " << Script.Answered() << " of " << Answers.size() << " windows answered";
    }

    void Connect()
    {
        ClickThrough("btnConnect", {Box("&OK")});
        ASSERT_TRUE(Reader().Connected());
        ASSERT_TRUE(WaitUntil([&] { return Sim->ReceivedFrames().size() >= 1; }));
        Pump(std::chrono::milliseconds(50));
    }

    // Ctrl+L on the main window, as a person presses it; the Activity window it opened, if any.
    QWidget* OpenActivity()
    {
        Form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(Form.get()));
        QTest::keySequence(Form.get(), QKeySequence(QStringLiteral("Ctrl+L")));
        return Form->findChild<QWidget*>(QStringLiteral("ActivityForm"));
    }

    // Cards First, First + 1, ... named "Card 1", "Card 2", ...
    void AddCards(int Count, uint32_t First = 1)
    {
        for (int I = 0; I < Count; ++I) {
            TRfidTag& T = Reader().Tags().Add();
            T.Bytes = Card(First + uint32_t(I));
            T.Name = QByteArray("Card ") + QByteArray::number(I + 1);
        }
        Form->RefreshCardList();
    }
};
