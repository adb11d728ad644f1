#include "web/ChangeJournal.h"

#include "log/AccessLog.h"

void TLogChanges::Record(const TWebChange& Change)
{
    FLog.RecordChange({0, Change.Time, Change.User, Change.Address, Change.What});
    FSay(5, QStringLiteral("web: %1 (%2) at %3: %4")
                .arg(Change.User, Change.Address, Change.Time.toString(Qt::ISODateWithMs), Change.What));
}
