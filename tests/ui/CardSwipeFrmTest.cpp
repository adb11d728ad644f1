#include "ui/CardSwipeFrm.h"

#include "support/ModalHelper.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

TRfidTag MakeTag(std::array<uint8_t, 5> Bytes, const char* Name = "")
{
    TRfidTag Tag;
    Tag.Bytes = Bytes;
    Tag.Name = Name;
    return Tag;
}

QLabel* TagLabel(QWidget& Window) { return Window.findChild<QLabel*>("lblTag"); }

TEST(CardSwipeForm, ShowsTheCardNumberRightAlignedInItsPanel)
{
    TCardSwipeForm Form(nullptr);
    ASSERT_NE(TagLabel(Form), nullptr);
    EXPECT_EQ(TagLabel(Form)->text(), "lblTag");

    Form.SetTag(MakeTag({0x01, 0x00, 0x12, 0xD6, 0x87}));
    QLabel* Label = TagLabel(Form);
    EXPECT_EQ(Label->text(), "0001234567 018,54919");
    EXPECT_TRUE(Label->alignment() & Qt::AlignRight);
    EXPECT_EQ(Label->parentWidget(), Form.findChild<QFrame*>("pnlTag"));
    EXPECT_GE(Label->width(), Label->sizeHint().width()) << "the number must not be cut off";
}

TEST(CardSwipeForm, KeepsItsOwnCopyOfTheCardsBytes)
{
    TCardSwipeForm Form(nullptr);
    auto Given = std::make_unique<TRfidTag>(MakeTag({0x01, 0x00, 0x12, 0xD6, 0x87}, "Front door"));
    Form.SetTag(*Given);
    Given->Bytes = {9, 9, 9, 9, 9};
    Given.reset();

    const std::array<uint8_t, 5> Expected{0x01, 0x00, 0x12, 0xD6, 0x87};
    EXPECT_EQ(Form.Tag().Bytes, Expected);
    EXPECT_TRUE(Form.Tag().Name.isEmpty()) << "only the bytes are copied";
    EXPECT_EQ(TagLabel(Form)->text(), "0001234567 018,54919");
}

int RunAndAnswer(const std::function<void(QWidget*)>& Action)
{
    TCardSwipeForm Form(nullptr);
    Form.SetTag(MakeTag({0, 0, 0, 0, 1}));
    auto Answer = AnswerNextModal(Action);
    const int Result = Form.exec();
    EXPECT_TRUE(Answer->Answered());
    return Result;
}

TEST(CardSwipeForm, EnterOrAddToDatabaseAdds)
{
    EXPECT_EQ(RunAndAnswer([](QWidget* Modal) {
                  ASSERT_NE(Modal->focusWidget(), nullptr);
                  QTest::keyClick(Modal->focusWidget(), Qt::Key_Return);
              }),
              QDialog::Accepted);
    EXPECT_EQ(RunAndAnswer([](QWidget* Modal) { ClickButton(Modal, "&Add to database"); }), QDialog::Accepted);
}

TEST(CardSwipeForm, IgnoreOrTheCloseButtonIgnores)
{
    EXPECT_EQ(RunAndAnswer([](QWidget* Modal) { ClickButton(Modal, "&Ignore"); }), QDialog::Rejected);
    EXPECT_EQ(RunAndAnswer([](QWidget* Modal) { Modal->close(); }), QDialog::Rejected);
}

} // namespace
