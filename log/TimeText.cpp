#include "log/TimeText.h"

#include <QDate>

namespace {

std::optional<QDateTime> Age(const QString& Text, const QDateTime& Now)
{
    if (Text.size() < 2)
        return std::nullopt;
    bool Ok = false;
    const qint64 Count = Text.chopped(1).toLongLong(&Ok);
    if (!Ok || Count < 0 || Count > 100000)
        return std::nullopt;
    qint64 Unit = 0;
    switch (Text.back().toLower().unicode()) {
    case 's': Unit = 1; break;
    case 'm': Unit = 60; break;
    case 'h': Unit = 3600; break;
    case 'd': Unit = 86400; break;
    case 'w': Unit = 7 * 86400; break;
    default: return std::nullopt;
    }
    return Now.addSecs(-Count * Unit);
}

} // namespace

std::optional<QDateTime> TimeFromText(const QString& Text, const QDateTime& Now)
{
    const QString Given = Text.trimmed();
    if (Given.compare(QStringLiteral("today"), Qt::CaseInsensitive) == 0)
        return Now.toLocalTime().date().startOfDay();
    if (std::optional<QDateTime> Before = Age(Given, Now))
        return Before;
    if (const QDateTime Moment = QDateTime::fromString(Given, Qt::ISODateWithMs); Moment.isValid())
        return Moment;
    if (const QDate Day = QDate::fromString(Given, Qt::ISODate); Day.isValid())
        return Day.startOfDay();
    return std::nullopt;
}
