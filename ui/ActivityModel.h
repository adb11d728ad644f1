#pragma once

#include "log/LogQuery.h"
#include "log/SwipeRecord.h"

#include <QAbstractTableModel>
#include <QString>

#include <deque>

class TAccessLog;

// The swipes of an access log, newest first, for the Activity window's list. Rows are read a page
// at a time as the view scrolls to them (canFetchMore/fetchMore), so a log of any size opens as
// fast as an empty one; the search is a condition of the SQL, not a filter over read rows.
class TActivityModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum TColumn { colTime, colDoor, colCardNumber, colName, colResult, ColumnCount };

    static constexpr int PageSize = 256;

    explicit TActivityModel(QObject* Parent);

    // Shows Log (null: nothing) from its newest swipe on. The log must outlive its use here.
    void SetLog(TAccessLog* Log);
    TAccessLog* Log() const { return FLog; }
    // Rows whose card or name the text picks (see SearchQuery), from the newest on.
    void SetSearch(const QString& Text);
    const TLogQuery& Query() const { return FQuery; }
    // Reads the first page again.
    void Reload();
    // Puts the swipes written since the top row above it, keeping what is shown below; returns
    // how many came.
    int ShowNewer();
    // Whether the log could be read since it was set.
    bool HasRead() const { return FHasRead; }

    // Why the last read failed, in the log's words, or why the page below the last row could not
    // be read (until it can); empty when neither.
    QString ReadError() const { return FReadError.isEmpty() ? FPageError : FReadError; }

    int rowCount(const QModelIndex& Parent = {}) const override;
    int columnCount(const QModelIndex& Parent = {}) const override;
    QVariant data(const QModelIndex& Index, int Role) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
    bool canFetchMore(const QModelIndex& Parent) const override;
    void fetchMore(const QModelIndex& Parent) override;

    QString CellText(int Row, int Column) const;
    // A card the reader did not hold: "refused", with the agent's reason when it gave one.
    bool Refused(int Row) const;

signals:
    void ReadErrorChanged();

private:
    // Up to PageSize rows of Q after After; false when the log refused the read.
    bool Read(const TLogQuery& Q, const std::optional<TSwipeKey>& After, std::vector<TSwipeRecord>& Rows);

    TAccessLog* FLog = nullptr;
    TLogQuery FQuery;
    std::deque<TSwipeRecord> FRows;
    bool FAtEnd = true;
    bool FHasRead = false;
    QString FReadError;
    QString FPageError; // a page that failed stays to be read at the next scroll
};

// A card number or value picks that card; any other text the names that hold it, in any case.
TLogQuery SearchQuery(const QString& Text);
