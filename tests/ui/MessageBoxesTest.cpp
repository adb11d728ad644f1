#include "ui/MessageBoxes.h"

#include "common/Errors.h"
#include "support/ModalHelper.h"

#include <gtest/gtest.h>

namespace {

struct TQuestion
{
    const char* Name;
    std::function<bool()> Ask;
    QString Title;
    QMessageBox::Icon Icon;
    QStringList Buttons;
};

std::vector<TQuestion> Questions()
{
    return {
        {"AskOkCancel", [] { return AskOkCancel(nullptr, "Remove all cards from the database?"); }, "Information",
         QMessageBox::Information, {"OK", "Cancel"}},
        {"AskYesNo", [] { return AskYesNo(nullptr, "Remove all cards from the database?"); }, "Information",
         QMessageBox::Information, {"&Yes", "&No"}},
    };
}

TEST(MessageBoxes, QuestionsShowTheirKindAndAreYesOnlyForThePositiveButton)
{
    for (const TQuestion& Q : Questions()) {
        const auto Answer = [&](const std::function<void(QWidget*)>& Action, TSeenBox* Seen = nullptr) {
            auto Watch = AnswerNextModal([&](QWidget* Modal) {
                if (Seen)
                    *Seen = SeeBox(Modal);
                Action(Modal);
            });
            const bool Result = Q.Ask();
            EXPECT_TRUE(Watch->Answered()) << Q.Name;
            return Result;
        };
        TSeenBox Seen;
        EXPECT_TRUE(Answer([&](QWidget* M) { ClickButton(M, Q.Buttons[0]); }, &Seen)) << Q.Name;
        EXPECT_EQ(Seen.Title, Q.Title);
        EXPECT_EQ(Seen.Text, "Remove all cards from the database?");
        EXPECT_EQ(Seen.Icon, Q.Icon);
        EXPECT_EQ(Seen.Buttons, Q.Buttons);

        EXPECT_FALSE(Answer([&](QWidget* M) { ClickButton(M, Q.Buttons[1]); })) << Q.Name;
        EXPECT_FALSE(Answer([](QWidget* M) { QTest::keyClick(M, Qt::Key_Escape); })) << Q.Name;
        EXPECT_FALSE(Answer([](QWidget* M) { M->close(); })) << Q.Name;
        EXPECT_TRUE(Answer([](QWidget* M) { QTest::keyClick(M, Qt::Key_Return); })) << Q.Name << ": Enter";
    }
}

TEST(MessageBoxes, InformationAndErrorShowTheirKindAndPlainText)
{
    TSeenBox Seen;
    Qt::TextFormat Format = Qt::AutoText;
    {
        auto Watch = AnswerNextModal([&](QWidget* Modal) {
            Seen = SeeBox(Modal);
            Format = static_cast<QMessageBox*>(Modal)->textFormat();
            ClickButton(Modal, "OK");
        });
        ShowInformation(nullptr, "Card <b>reader</b> updated.\r\n\r\nReady.");
        EXPECT_TRUE(Watch->Answered());
    }
    EXPECT_EQ(Seen.Title, "Information");
    EXPECT_EQ(Seen.Icon, QMessageBox::Information);
    EXPECT_EQ(Seen.Buttons, QStringList{"OK"});
    EXPECT_EQ(Format, Qt::PlainText);
    EXPECT_EQ(Seen.Text, "Card <b>reader</b> updated.\n\nReady.");

    {
        auto Watch = AnswerNextBox("OK", Seen);
        ShowError(nullptr, "Failed to connect.");
        EXPECT_TRUE(Watch->Answered());
    }
    EXPECT_EQ(Seen.Title, "Error");
    EXPECT_EQ(Seen.Icon, QMessageBox::Critical);
    EXPECT_EQ(Seen.Buttons, QStringList{"OK"});
}

class ErrorReport : public ::testing::Test
{
protected:
    void SetUp() override { InstallErrorReport(); }
    void TearDown() override { SetExceptionReporter({}); }

    TSeenBox Report(const std::string& Message)
    {
        TSeenBox Seen;
        auto Watch = AnswerNextBox("OK", Seen);
        ReportException(Exception(Message));
        EXPECT_TRUE(Watch->Answered()) << Message;
        return Seen;
    }
};

TEST_F(ErrorReport, IsTitledWithTheApplicationAndEndsInAFullStop)
{
    const TSeenBox Seen = Report("Unknown command");
    EXPECT_EQ(Seen.Title, "Dorvik");
    EXPECT_EQ(Seen.Icon, QMessageBox::Critical);
    EXPECT_EQ(Seen.Buttons, QStringList{"OK"});
    EXPECT_EQ(Seen.Text, "Unknown command.");

    EXPECT_EQ(Report("Done.").Text, "Done.");
    EXPECT_EQ(Report("Wrote 3 cards!").Text, "Wrote 3 cards!");
    EXPECT_EQ(Report("Tür klemmt").Text, "Tür klemmt.");
}

TEST_F(ErrorReport, ReportsWhileOneIsOpenAreNotStackedOnTop)
{
    TSeenBox First;
    bool SecondStacked = false;
    auto Watch = AnswerNextModal([&](QWidget* Modal) {
        First = SeeBox(Modal);
        auto Stacked = AnswerNextModal([&](QWidget* Other) {
            SecondStacked = true;
            Other->close();
        });
        ReportException(Exception("Unknown command"));
        EXPECT_EQ(QApplication::activeModalWidget(), Modal);
        ClickButton(Modal, "OK");
    });
    ReportException(Exception("Invalid packet"));
    EXPECT_TRUE(Watch->Answered());
    EXPECT_EQ(First.Text, "Invalid packet.");
    EXPECT_FALSE(SecondStacked);

    EXPECT_EQ(Report("Unknown command").Text, "Unknown command.") << "a closed report lets the next one show";
}

} // namespace
