#pragma once

#include <QSqlDatabase>

// The tables of the access log and the steps between their versions. The version a file is at
// is its PRAGMA user_version (0 for a new file).

// The version this program writes.
int SchemaVersion();

// The file's version.
int FileSchemaVersion(const QSqlDatabase& Db);

// Whether the file holds tables but none of the log's (another program's database): the steps
// would add the log's tables to it.
bool ForeignDatabase(const QSqlDatabase& Db);

// Takes the file to SchemaVersion(), one step per version, each in a transaction of its own.
// Returns false, changing nothing, for a file of a newer version. Raises ESql.
bool MigrateSchema(const QSqlDatabase& Db);
