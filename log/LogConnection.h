#pragma once

#include <QSqlDatabase>
#include <QString>

// Opens Db (a QSQLITE connection) on the access log at Path: WAL, synchronous=FULL, a busy
// time-out of BusyTimeoutMs, brought to this program's version. Returns what is wrong, in words
// for the log's user; empty when the connection is ready. Db is closed again on failure.
QString OpenLogConnection(QSqlDatabase& Db, const QString& Path, int BusyTimeoutMs);
