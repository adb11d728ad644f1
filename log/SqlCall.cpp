#include "log/SqlCall.h"

QSqlQuery Exec(const QSqlDatabase& Db, const QString& Sql, const QVariantList& Values)
{
    QSqlQuery Query(Db);
    Query.setForwardOnly(true);
    if (!Query.prepare(Sql))
        throw ESql(Query.lastError());
    for (const QVariant& Value : Values)
        Query.addBindValue(Value);
    Exec(Query);
    return Query;
}

void Exec(QSqlQuery& Query)
{
    if (!Query.exec())
        throw ESql(Query.lastError());
}

TTransaction::TTransaction(const QSqlDatabase& Db) : FDb(Db) { Exec(FDb, QStringLiteral("BEGIN IMMEDIATE")); }

TTransaction::~TTransaction()
{
    if (FOpen)
        QSqlQuery(FDb).exec(QStringLiteral("ROLLBACK"));
}

void TTransaction::Commit()
{
    Exec(FDb, QStringLiteral("COMMIT"));
    FOpen = false;
}
