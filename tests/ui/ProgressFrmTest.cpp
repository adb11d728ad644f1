#include "ui/ProgressFrm.h"

#include "support/TestSupport.h"

#include <QPointer>
#include <QProgressBar>

#include <gtest/gtest.h>

namespace {

QImage Snapshot(QWidget* Widget) { return Widget->grab().toImage(); }

// True when the bar's picture changes while the event loop runs: the band is moving.
bool BandMoves(QProgressBar* Bar)
{
    const QImage First = Snapshot(Bar);
    return WaitUntil([&] { return Snapshot(Bar) != First; });
}

TEST(ProgressForm, BandMovesWhileShownAndCloseOnlyHides)
{
    QPointer<TProgressForm> Form = new TProgressForm(nullptr);
    auto* Bar = Form->findChild<QProgressBar*>("ProgressBar");
    ASSERT_NE(Bar, nullptr);
    EXPECT_EQ(Bar->minimum(), 0);
    EXPECT_EQ(Bar->maximum(), 0);

    Form->show();
    EXPECT_TRUE(BandMoves(Bar));

    Form->close();
    ASSERT_FALSE(Form.isNull()) << "closing must not destroy the one progress window";
    EXPECT_FALSE(Form->isVisible());

    Form->show();
    EXPECT_TRUE(Form->isVisible());
    EXPECT_TRUE(BandMoves(Bar));
    delete Form.data();
}

} // namespace
