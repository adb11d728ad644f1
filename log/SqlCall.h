#pragma once

#include "common/Errors.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

// A statement the database refused. The access log turns it into words for its user; nothing
// outside log/ sees it.
class ESql : public Exception
{
public:
    explicit ESql(const QSqlError& Error) : Exception(Error.text().toStdString()), FError(Error) {}
    const QSqlError& Error() const { return FError; }

private:
    QSqlError FError;
};

// Runs Sql with Values bound in order and returns the forward-only query, before its first row.
QSqlQuery Exec(const QSqlDatabase& Db, const QString& Sql, const QVariantList& Values = {});

// Runs a prepared query with what is bound to it.
void Exec(QSqlQuery& Query);

// BEGIN IMMEDIATE: the write lock is taken at once, under the busy time-out, so a writer never
// fails half-way for a lock another writer holds. Rolled back unless committed.
class TTransaction
{
public:
    explicit TTransaction(const QSqlDatabase& Db);
    ~TTransaction();
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;

    void Commit();

private:
    QSqlDatabase FDb;
    bool FOpen = true;
};
