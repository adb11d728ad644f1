#pragma once

#include <QSqlError>
#include <QString>

// What is wrong with the access log at Path, in words for its user, naming the file:
// "The access log /x/access.db is read-only".
QString LogFaultText(const QString& Path, const QSqlError& Error);

// Whether the connection must be opened afresh before it can work again: SQLite opens a file it
// may not write read-only for good, and a damaged file may have been replaced.
bool LogFaultNeedsReopen(const QSqlError& Error);
