#include "ui/CardListModel.h"

#include "cards/RfidTags.h"
#include "cards/NameText.h"
#include "ui/Pictures.h"

TCardListModel::TCardListModel(const TRfidTags& Tags, std::function<uint32_t()> Master, QObject* Parent)
    : QAbstractTableModel(Parent), FTags(Tags), FMaster(std::move(Master)),
      FRowPicture(Picture("card", QSize(16, 16)))
{
}

int TCardListModel::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : FRows; }

int TCardListModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : ColumnCount; }

QString TCardListModel::CellText(int Row, int Column) const
{
    // A row with no card behind it shows nothing rather than failing in a paint.
    if (Row < 0 || Row >= FTags.Count())
        return {};
    const TRfidTag& Tag = FTags.Items(Row);
    switch (Column) {
    case colId: return QString::asprintf("%d", Row + 1);
    case colCardNumber: return Tag.CardNumber();
    case colName: return NameToText(Tag.Name);
    case colMaster: return uint32_t(Row) == FMaster() ? QStringLiteral("Yes") : QString();
    default: return {};
    }
}

QVariant TCardListModel::data(const QModelIndex& Index, int Role) const
{
    if (!Index.isValid())
        return {};
    if (Role == Qt::DisplayRole)
        return CellText(Index.row(), Index.column());
    if (Role == Qt::DecorationRole && Index.column() == colId)
        return FRowPicture;
    return {};
}

QVariant TCardListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    if (Orientation == Qt::Horizontal && Role == Qt::AccessibleTextRole && Section == colCardNumber)
        return QStringLiteral("Card number"); // "Cardn\u00B0" reads badly aloud
    if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole)
        return {};
    switch (Section) {
    case colId: return QStringLiteral("ID");
    case colCardNumber: return QStringLiteral("Cardn\u00B0");
    case colName: return QStringLiteral("Name");
    case colMaster: return QStringLiteral("Master");
    default: return {};
    }
}

void TCardListModel::SetRowCount(int Count)
{
    beginResetModel();
    FRows = Count;
    endResetModel();
}

void TCardListModel::RemoveRow(int Row)
{
    if (Row < 0 || Row >= FRows)
        return;
    beginRemoveRows({}, Row, Row);
    --FRows;
    endRemoveRows();
}

void TCardListModel::Repaint()
{
    if (FRows > 0)
        emit dataChanged(index(0, 0), index(FRows - 1, ColumnCount - 1), {Qt::DisplayRole});
}
