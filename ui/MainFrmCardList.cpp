#include "ui/MainFrm.h"

#include "reader/Dorvik.h"
#include "ui/CardListModel.h"
#include "ui_MainFrm.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QTimer>

// The card list: its columns, its mouse handling and its selection.

void TMainForm::SetUpCardList()
{
    FModel = new TCardListModel(FCardReader->Tags(), [this] { return FCardReader->Master(); }, this);
    QTreeView* List = FUi->lstCards;
    List->setModel(FModel);
    QHeaderView* Header = List->header();
    Header->setSectionsMovable(true);
    Header->setSectionsClickable(false);
    Header->setStretchLastSection(false);
    Header->setSectionResizeMode(QHeaderView::Interactive);
    const int Widths[] = {60, 150, 275, 50};
    for (int Column = 0; Column < TCardListModel::ColumnCount; ++Column)
        Header->resizeSection(Column, Widths[Column]);
    List->viewport()->installEventFilter(this);
}

bool TMainForm::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == FUi->lstCards->viewport()) {
        if (Event->type() == QEvent::Resize) {
            FitNameColumn(static_cast<QResizeEvent*>(Event)->size().width());
        } else if (Event->type() == QEvent::MouseButtonDblClick) {
            // A double click anywhere on the list edits the selected card, if there is one.
            if (static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
                QTimer::singleShot(0, this, [this] { Run([this] { actEditNameExecute(); }); });
                return true;
            }
        } else if (Event->type() == QEvent::MouseButtonPress) {
            const auto* Press = static_cast<QMouseEvent*>(Event);
            if (Press->button() == Qt::RightButton) {
                const QModelIndex At = FUi->lstCards->indexAt(Press->position().toPoint());
                if (At.isValid())
                    SelectRow(At.row());
                return true;
            }
        }
    }
    return QWidget::eventFilter(Watched, Event);
}

// "Name" takes whatever width the other columns leave, so the columns fill the view.
void TMainForm::FitNameColumn(int ViewWidth)
{
    QHeaderView* Header = FUi->lstCards->header();
    int Others = 0;
    for (int Column = 0; Column < TCardListModel::ColumnCount; ++Column) {
        if (Column != TCardListModel::colName)
            Others += Header->sectionSize(Column);
    }
    Header->resizeSection(TCardListModel::colName, std::max(Header->minimumSectionSize(), ViewWidth - Others));
}

void TMainForm::RefreshCardList()
{
    QTreeView* List = FUi->lstCards;
    FModel->SetRowCount(0);
    List->setUpdatesEnabled(false);
    FModel->SetRowCount(FCardReader->Tags().Count());
    List->setUpdatesEnabled(true);
    List->clearSelection();
}

int TMainForm::SelectedRow() const
{
    const QModelIndexList Rows = FUi->lstCards->selectionModel()->selectedRows();
    return Rows.size() == 1 ? Rows.first().row() : -1;
}

void TMainForm::SelectRow(int Row)
{
    const QModelIndex Index = FModel->index(Row, 0);
    FUi->lstCards->selectionModel()->select(Index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    FUi->lstCards->selectionModel()->setCurrentIndex(Index, QItemSelectionModel::NoUpdate);
}

int TMainForm::FindAgain(int Row, const TRfidTag& Card) const
{
    const TRfidTags& Tags = FCardReader->Tags();
    if (Row >= 0 && Row < Tags.Count() && CompareTags(Tags.Items(Row), Card) == 0 &&
        Row < FModel->rowCount())
        return Row;
    const int Found = Tags.IndexOf(Card);
    return Found < FModel->rowCount() ? Found : -1;
}
