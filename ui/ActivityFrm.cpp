#include "ui/ActivityFrm.h"

#include "log/AccessLog.h"
#include "ui/ActivityExport.h"
#include "ui/ActivityModel.h"
#include "ui/MainFrmAccess.h"
#include "ui/MessageBoxes.h"
#include "ui_ActivityFrm.h"

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTimer>

namespace {

// Long enough that a name typed at speed is searched once, short enough to feel immediate.
constexpr int SearchDelayMs = 150;
// Another program commits a swipe within milliseconds; a log it cannot write takes longer,
// and then the row comes with the next swipe or Reload.
constexpr int AwaitEveryMs = 100;
constexpr int AwaitTries = 30;

} // namespace

TActivityForm::TActivityForm(QWidget* Owner)
    : QWidget(Owner, Qt::Window), FUi(std::make_unique<Ui::TActivityForm>())
{
    FUi->setupUi(this);
    InstallAccessibleRoles();
    setAccessibleName(windowTitle());
    FModel = new TActivityModel(this);
    SetUpList();
    connect(FModel, &TActivityModel::ReadErrorChanged, this, &TActivityForm::UpdateStatus);

    FSearchDelay = new QTimer(this);
    FSearchDelay->setSingleShot(true);
    FSearchDelay->setInterval(SearchDelayMs);
    connect(FUi->txtSearch, &QLineEdit::textChanged, FSearchDelay, qOverload<>(&QTimer::start));
    connect(FSearchDelay, &QTimer::timeout, this, [this] { FModel->SetSearch(FUi->txtSearch->text()); });

    connect(FUi->btnExport, &QPushButton::clicked, this, &TActivityForm::ExportExecute);

    FAwait = new QTimer(this);
    FAwait->setInterval(AwaitEveryMs);
    connect(FAwait, &QTimer::timeout, this, [this] {
        if (--FAwaitLeft <= 0 || FModel->ShowNewer() > 0)
            FAwait->stop();
        UpdateStatus();
    });
}

TActivityForm::~TActivityForm() = default;

void TActivityForm::keyPressEvent(QKeyEvent* Event)
{
    if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier)
        close();
    else
        QWidget::keyPressEvent(Event);
}

void TActivityForm::SetUpList()
{
    QTreeView* List = FUi->lstActivity;
    List->setModel(FModel);
    QHeaderView* Header = List->header();
    Header->setSectionsMovable(false);
    Header->setStretchLastSection(true);
    List->ensurePolished();
    // Wide enough for the longest text of each column in the font in use; the name takes the rest.
    const QFontMetrics Metrics = List->fontMetrics();
    const int Margin = 2 * (List->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, List) + 1) + 12;
    Header->resizeSection(TActivityModel::colTime, Metrics.horizontalAdvance(QStringLiteral("2026-12-09 14:03:22")) + Margin);
    Header->resizeSection(TActivityModel::colDoor, Metrics.horizontalAdvance(QStringLiteral("rfc2217://door-pc:4001")) + Margin);
    Header->resizeSection(TActivityModel::colCardNumber, Metrics.horizontalAdvance(QLatin1String(WidestCardNumber)) + Margin);
    Header->resizeSection(TActivityModel::colName, Metrics.horizontalAdvance(QStringLiteral("Chloé Kowalski-Müller")) + Margin);
}

void TActivityForm::SetLog(TAccessLog* Log)
{
    if (TAccessLog* Old = FModel->Log())
        disconnect(Old, nullptr, this, nullptr);
    FAwait->stop();
    FModel->SetLog(Log);
    if (Log) {
        connect(Log, &TAccessLog::Changed, this, &TActivityForm::LogChanged);
        connect(Log, &TAccessLog::Committed, this, [this] {
            if (isVisible())
                ShowNewer();
        });
    }
    UpdateStatus();
}

// A log that records is read once its writer has the file ready.
void TActivityForm::LogChanged()
{
    if (!FModel->HasRead())
        FModel->Reload();
    UpdateStatus();
}

TAccessLog* TActivityForm::Log() const { return FModel->Log(); }

void TActivityForm::Reload()
{
    FModel->Reload();
    UpdateStatus();
}

void TActivityForm::ShowNewer()
{
    FModel->ShowNewer();
    UpdateStatus();
}

void TActivityForm::AwaitNewer()
{
    FAwaitLeft = AwaitTries;
    FAwait->start();
}

void TActivityForm::UpdateStatus()
{
    const TAccessLog* Log = FModel->Log();
    QString Text = Log ? Log->Error() : QString();
    if (Text.isEmpty())
        Text = FModel->ReadError();
    if (Text.isEmpty() && Log && Log->Dropped() > 0)
        Text = QStringLiteral("%1 swipes were dropped for room while the access log could not be written")
                   .arg(Log->Dropped());
    FUi->lblStatus->setText(Text.isEmpty() ? FExported : Text);
}

void TActivityForm::ExportExecute()
{
    const TAccessLog* Log = FModel->Log();
    if (!Log)
        return;
    const auto Dialog = ExportDialog(this);
    if (Dialog->exec() != QDialog::Accepted || Dialog->selectedFiles().isEmpty())
        return;
    const QString FileName = Dialog->selectedFiles().first();
    try {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        struct TRestore
        {
            ~TRestore() { QApplication::restoreOverrideCursor(); }
        } Restore;
        const int Count = ExportSwipes(*Log, FModel->Query(), FileName);
        FExported = (Count == 1 ? QStringLiteral("1 swipe written to %1") : QStringLiteral("%2 swipes written to %1"))
                        .arg(FileName)
                        .arg(Count);
    } catch (const std::exception& Error) {
        ShowError(this, QString::fromUtf8(Error.what()));
    }
    UpdateStatus();
}
