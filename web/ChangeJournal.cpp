#include "web/ChangeJournal.h"

void TJournalChanges::Record(const TWebChange& Change)
{
    FSay(5, QStringLiteral("web: %1 (%2) at %3: %4")
                .arg(Change.User, Change.Address, Change.Time.toString(Qt::ISODateWithMs), Change.What));
}
