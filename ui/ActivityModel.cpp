#include "ui/ActivityModel.h"

#include "ui/Pictures.h"

#include "log/AccessLog.h"

#include <algorithm>

TLogQuery SearchQuery(const QString& Text)
{
    // Spaces around the text are a typing slip, not a part of a name.
    const QString Given = Text.trimmed();
    TLogQuery Query;
    if (CardValueFromText(Given))
        Query.Card = Given;
    else
        Query.NameText = Given;
    return Query;
}

TActivityModel::TActivityModel(QObject* Parent) : QAbstractTableModel(Parent) {}

void TActivityModel::SetLog(TAccessLog* Log)
{
    FLog = Log;
    Reload();
}

void TActivityModel::SetSearch(const QString& Text)
{
    FQuery = SearchQuery(Text);
    Reload();
}

void TActivityModel::Reload()
{
    std::vector<TSwipeRecord> First;
    const bool Read = FLog && this->Read(FQuery, std::nullopt, First);
    FHasRead = Read && FLog->Database().isOpen();
    FPageError.clear();
    beginResetModel();
    FRows.assign(First.begin(), First.end());
    FAtEnd = !Read || int(First.size()) < PageSize;
    endResetModel();
}

int TActivityModel::ShowNewer()
{
    if (FRows.empty()) {
        Reload();
        return int(FRows.size());
    }
    const TSwipeKey Top = SwipeKey(FRows.front());
    TLogQuery Since = FQuery;
    Since.Since = QDateTime::fromMSecsSinceEpoch(Top.TimeMs, Qt::UTC);
    std::vector<TSwipeRecord> Rows;
    if (!Read(Since, std::nullopt, Rows))
        return 0;
    const auto Newer = [&](const TSwipeRecord& S) {
        const TSwipeKey K = SwipeKey(S);
        return K.TimeMs > Top.TimeMs || (K.TimeMs == Top.TimeMs && K.Id > Top.Id);
    };
    // A page of newer rows may not reach the top row: there is a gap, so start afresh.
    if (int(Rows.size()) == PageSize && Newer(Rows.back())) {
        Reload();
        return PageSize;
    }
    const int Count = int(std::count_if(Rows.begin(), Rows.end(), Newer));
    if (Count == 0)
        return 0;
    beginInsertRows({}, 0, Count - 1);
    FRows.insert(FRows.begin(), Rows.begin(), Rows.begin() + Count);
    endInsertRows();
    return Count;
}

bool TActivityModel::Read(const TLogQuery& Q, const std::optional<TSwipeKey>& After, std::vector<TSwipeRecord>& Rows)
{
    TLogQuery Page = Q;
    Page.Limit = PageSize;
    const QString Error = FLog->ForEach(LogStatement(Page, After), [&](const TSwipeRecord& Swipe) {
        Rows.push_back(Swipe);
        return true;
    });
    if (Error != FReadError) {
        FReadError = Error;
        emit ReadErrorChanged();
    }
    return Error.isEmpty();
}

int TActivityModel::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : int(FRows.size()); }

int TActivityModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : ColumnCount; }

bool TActivityModel::canFetchMore(const QModelIndex& Parent) const { return !Parent.isValid() && !FAtEnd; }

void TActivityModel::fetchMore(const QModelIndex& Parent)
{
    if (!canFetchMore(Parent) || FRows.empty())
        return;
    std::vector<TSwipeRecord> Rows;
    const QString Before = ReadError();
    // A failed read leaves the paging where it is, to be tried at the next scroll; the window
    // says why until then.
    if (!Read(FQuery, SwipeKey(FRows.back()), Rows)) {
        FPageError = std::exchange(FReadError, QString());
    } else {
        FPageError.clear();
        FAtEnd = int(Rows.size()) < PageSize;
    }
    if (ReadError() != Before)
        emit ReadErrorChanged();
    if (Rows.empty())
        return;
    beginInsertRows({}, int(FRows.size()), int(FRows.size() + Rows.size()) - 1);
    FRows.insert(FRows.end(), Rows.begin(), Rows.end());
    endInsertRows();
}

QString TActivityModel::CellText(int Row, int Column) const
{
    if (Row < 0 || Row >= int(FRows.size()))
        return {};
    const TSwipeRecord& Swipe = FRows[size_t(Row)];
    switch (Column) {
    case colTime: return Swipe.Time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case colDoor: return Swipe.Door;
    case colCardNumber: return Swipe.CardNumber;
    case colName: return Swipe.Name;
    case colResult:
        if (Swipe.Known)
            return Swipe.Reason; // the reader held it, though the rules would not admit it now
        return Swipe.Reason.isEmpty() ? QStringLiteral("refused") : QStringLiteral("refused: %1").arg(Swipe.Reason);
    default: return {};
    }
}

bool TActivityModel::Refused(int Row) const { return Row >= 0 && Row < int(FRows.size()) && !FRows[size_t(Row)].Known; }

QVariant TActivityModel::data(const QModelIndex& Index, int Role) const
{
    if (!Index.isValid())
        return {};
    switch (Role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
    case Qt::ToolTipRole: return CellText(Index.row(), Index.column());
    case Qt::DecorationRole:
        if (Index.column() == colResult && Refused(Index.row()))
            return PictureIcon(QStringLiteral("refused"), QSize(16, 16));
        return {};
    default: return {};
    }
}

QVariant TActivityModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole)
        return {};
    switch (Section) {
    case colTime: return QStringLiteral("Time");
    case colDoor: return QStringLiteral("Door");
    case colCardNumber: return QStringLiteral("Card number");
    case colName: return QStringLiteral("Name");
    case colResult: return QStringLiteral("Result");
    default: return {};
    }
}
