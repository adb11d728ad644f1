#include "log/Schema.h"

#include "log/SqlCall.h"

#include <iterator>

namespace {

// Names are few and swipes many: each distinct name is kept once, with its case-folded text
// for searching, so a search reads the names and then the swipes of the matching ones only.
// AUTOINCREMENT: an id is never given twice, even after every row was pruned, so whoever
// published a swipe by its id never sees that id again for another.
void CreateFirstTables(const QSqlDatabase& Db)
{
    Exec(Db, QStringLiteral("CREATE TABLE Names(Id INTEGER PRIMARY KEY, Name TEXT NOT NULL UNIQUE, "
                            "Folded TEXT NOT NULL)"));
    Exec(Db, QStringLiteral("CREATE TABLE Swipes(Id INTEGER PRIMARY KEY AUTOINCREMENT, "
                            "Time INTEGER NOT NULL, Door TEXT NOT NULL, Bytes BLOB NOT NULL, "
                            "CardValue INTEGER NOT NULL, CardNumber TEXT NOT NULL, "
                            "NameId INTEGER NOT NULL REFERENCES Names(Id), Known INTEGER NOT NULL)"));
    // Every query reads newest first, so each index ends with the time (and the row id).
    Exec(Db, QStringLiteral("CREATE INDEX SwipesByTime ON Swipes(Time)"));
    Exec(Db, QStringLiteral("CREATE INDEX SwipesByCard ON Swipes(CardValue, Time)"));
    Exec(Db, QStringLiteral("CREATE INDEX SwipesByDoor ON Swipes(Door, Time)"));
    Exec(Db, QStringLiteral("CREATE INDEX SwipesByName ON Swipes(NameId, Time)"));
}

// Whether the message bus has acknowledged each swipe. The rows already there were written
// before any bus existed: they count as published, so an upgrade does not send the whole
// history. The partial index holds only the rows still to send, so finding them stays cheap
// however long the log grows.
void AddPublished(const QSqlDatabase& Db)
{
    Exec(Db, QStringLiteral("ALTER TABLE Swipes ADD COLUMN Published INTEGER NOT NULL DEFAULT 0"));
    Exec(Db, QStringLiteral("UPDATE Swipes SET Published = 1"));
    Exec(Db, QStringLiteral("CREATE INDEX SwipesUnpublished ON Swipes(Id) WHERE Published = 0"));
}

// What the log must remember beyond its rows: how many swipes were dropped for room while the file
// could not take them (Counters), and which side files of swipes held at exit were taken in
// (Imports), so a side file is never taken twice.
void AddCounters(const QSqlDatabase& Db)
{
    Exec(Db, QStringLiteral("CREATE TABLE Counters(Name TEXT PRIMARY KEY, Value INTEGER NOT NULL) WITHOUT ROWID"));
    Exec(Db, QStringLiteral("CREATE TABLE Imports(Token TEXT PRIMARY KEY) WITHOUT ROWID"));
}

// The agent's id of the door: a door's name may change, its id is what the message bus keys
// its topics on. Older rows have none.
void AddDoorId(const QSqlDatabase& Db)
{
    Exec(Db, QStringLiteral("ALTER TABLE Swipes ADD COLUMN DoorId TEXT NOT NULL DEFAULT ''"));
}

// Why the agent's rules did not admit the card ("expired 2026-11-30"); empty for older rows and
// for swipes outside the agent.
void AddReason(const QSqlDatabase& Db)
{
    Exec(Db, QStringLiteral("ALTER TABLE Swipes ADD COLUMN Reason TEXT NOT NULL DEFAULT ''"));
}

// What people changed through the agent's page, and who: a door's settings, the site list.
void AddChanges(const QSqlDatabase& Db)
{
    Exec(Db, QStringLiteral("CREATE TABLE Changes(Id INTEGER PRIMARY KEY AUTOINCREMENT, Time INTEGER NOT NULL, "
                            "User TEXT NOT NULL, Address TEXT NOT NULL, What TEXT NOT NULL)"));
    Exec(Db, QStringLiteral("CREATE INDEX ChangesByTime ON Changes(Time)"));
}

using TStep = void (*)(const QSqlDatabase&);

// Step N takes a file from version N to N + 1. Only ever append: files of every version exist.
constexpr TStep Steps[] = {CreateFirstTables, AddPublished, AddCounters, AddDoorId, AddReason, AddChanges};

} // namespace

int SchemaVersion() { return int(std::size(Steps)); }

int FileSchemaVersion(const QSqlDatabase& Db)
{
    QSqlQuery Query = Exec(Db, QStringLiteral("PRAGMA user_version"));
    return Query.next() ? Query.value(0).toInt() : 0;
}

bool ForeignDatabase(const QSqlDatabase& Db)
{
    if (FileSchemaVersion(Db) != 0)
        return false;
    QSqlQuery Tables = Exec(Db, QStringLiteral("SELECT count(*) FROM sqlite_master"));
    return Tables.next() && Tables.value(0).toInt() > 0;
}

bool MigrateSchema(const QSqlDatabase& Db)
{
    // Read first without a lock: a file that needs nothing opens even where it cannot be written.
    const int Found = FileSchemaVersion(Db);
    if (Found >= SchemaVersion())
        return Found == SchemaVersion();
    for (;;) {
        TTransaction Step(Db);
        // Again under the lock: another program may have taken the same step meanwhile.
        const int Version = FileSchemaVersion(Db);
        if (Version >= SchemaVersion())
            return Version == SchemaVersion();
        Steps[Version](Db);
        Exec(Db, QStringLiteral("PRAGMA user_version = %1").arg(Version + 1));
        Step.Commit();
    }
}
