#include "ui/SwipeRows.h"

#include "log/AccessLog.h"
#include "log/LogFault.h"

#include <QSqlError>
#include <QSqlQuery>

QString ForEachSwipe(const TAccessLog& Log, const TLogStatement& Statement,
                     const std::function<bool(const TSwipeRecord&)>& Take)
{
    // The log says itself why it could not be opened.
    if (!Log.Database().isOpen())
        return Log.Error().isEmpty() ? QStringLiteral("The access log %1 cannot be opened").arg(Log.Path()) : Log.Error();
    QSqlQuery Rows(Log.Database());
    Rows.setForwardOnly(true);
    if (Rows.prepare(Statement.Sql)) {
        for (const QVariant& Value : Statement.Values)
            Rows.addBindValue(Value);
        if (Rows.exec())
            while (Rows.next() && Take(SwipeAt(Rows))) {
            }
    }
    return Rows.lastError().isValid() ? LogFaultText(Log.Path(), Rows.lastError()) : QString();
}
