#pragma once

#include <QAbstractTableModel>
#include <QPixmap>

#include <cstdint>
#include <functional>

class TRfidTags;

// The card list view's model. It keeps nothing but a row count: row i stands for card i of the
// card list, and every cell is made when it is asked for. The view is right only while the row
// count equals the card count, so every change of the card list goes with a call here.
class TCardListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum TColumn { colId, colCardNumber, colName, colMaster, ColumnCount };

    TCardListModel(const TRfidTags& Tags, std::function<uint32_t()> Master, QObject* Parent);

    int rowCount(const QModelIndex& Parent = {}) const override;
    int columnCount(const QModelIndex& Parent = {}) const override;
    QVariant data(const QModelIndex& Index, int Role) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;

    // The view empties, or shows Count rows, in one step.
    void SetRowCount(int Count);
    // One row leaves the view; the rows behind it move up, as the cards do.
    void RemoveRow(int Row);
    // Cells show the card list anew (a name or the master changed).
    void Repaint();

    // The cell text, as the view shows it.
    QString CellText(int Row, int Column) const;

private:
    const TRfidTags& FTags;
    std::function<uint32_t()> FMaster;
    int FRows = 0;
    QPixmap FRowPicture;
};
