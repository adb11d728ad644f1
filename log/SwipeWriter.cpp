#include "log/SwipeWriter.h"

#include "log/SqlCall.h"

namespace {

QSqlQuery Prepared(const QSqlDatabase& Db, const QString& Sql)
{
    QSqlQuery Query(Db);
    Query.setForwardOnly(true);
    if (!Query.prepare(Sql))
        throw ESql(Query.lastError());
    return Query;
}

// Qt binds a null string as NULL, which the columns refuse: no text is empty text here.
QString Text(const QString& Value) { return Value.isNull() ? QStringLiteral("") : Value; }

} // namespace

TSwipeWriter::TSwipeWriter(const QSqlDatabase& Db)
    // The no-op update makes RETURNING give the id of a name that is there already.
    : FAddName(Prepared(Db, QStringLiteral("INSERT INTO Names(Name, Folded) VALUES(?, ?) "
                                           "ON CONFLICT(Name) DO UPDATE SET Name = excluded.Name RETURNING Id"))),
      FAddSwipe(Prepared(Db, QStringLiteral("INSERT INTO Swipes(Time, Door, Bytes, CardValue, CardNumber, NameId, "
                                            "Known, DoorId, Reason) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)")))
{
}

void TSwipeWriter::Write(TSwipeRecord& Swipe)
{
    FAddSwipe.addBindValue(Swipe.Time.toMSecsSinceEpoch());
    FAddSwipe.addBindValue(Text(Swipe.Door));
    FAddSwipe.addBindValue(QByteArray(reinterpret_cast<const char*>(Swipe.Bytes.data()), qsizetype(Swipe.Bytes.size())));
    FAddSwipe.addBindValue(qint64(SwipeCardValue(Swipe)));
    FAddSwipe.addBindValue(Text(Swipe.CardNumber));
    FAddSwipe.addBindValue(NameId(Swipe.Name));
    FAddSwipe.addBindValue(Swipe.Known ? 1 : 0);
    FAddSwipe.addBindValue(Text(Swipe.DoorId));
    FAddSwipe.addBindValue(Text(Swipe.Reason));
    Exec(FAddSwipe);
    Swipe.Id = FAddSwipe.lastInsertId().toLongLong();
}

qint64 TSwipeWriter::NameId(const QString& Name)
{
    if (const auto Known = FNameIds.constFind(Name); Known != FNameIds.cend())
        return *Known;
    FAddName.addBindValue(Text(Name));
    FAddName.addBindValue(Text(Name.toCaseFolded()));
    Exec(FAddName);
    if (!FAddName.next())
        throw ESql(FAddName.lastError());
    const qint64 Id = FAddName.value(0).toLongLong();
    // A statement left on its row would keep the transaction from committing.
    FAddName.finish();
    FNameIds.insert(Name, Id);
    return Id;
}
