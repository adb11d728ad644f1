#include "access/LocalMoment.h"

#include <QRegularExpression>

QString TLocalMoment::Text() const
{
    const QString Day = Date.toString(Qt::ISODate);
    return HasTime() ? Day + u' ' + Time.toString(QStringLiteral("HH:mm")) : Day;
}

std::optional<TLocalMoment> LocalMomentFromText(const QString& Text)
{
    static const QRegularExpression Form(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})(?:[ T](\\d{2}):(\\d{2}))?$"));
    const QRegularExpressionMatch Match = Form.match(Text.trimmed());
    if (!Match.hasMatch())
        return std::nullopt;
    TLocalMoment Moment;
    Moment.Date = QDate(Match.captured(1).toInt(), Match.captured(2).toInt(), Match.captured(3).toInt());
    if (!Moment.Date.isValid())
        return std::nullopt;
    if (Match.hasCaptured(4)) {
        Moment.Time = QTime(Match.captured(4).toInt(), Match.captured(5).toInt());
        if (!Moment.Time.isValid())
            return std::nullopt;
    }
    return Moment;
}
