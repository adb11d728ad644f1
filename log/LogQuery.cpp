#include "log/LogQuery.h"

#include "log/SqlCall.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

TSwipeKey SwipeKey(const TSwipeRecord& Swipe) { return {Swipe.Time.toMSecsSinceEpoch(), Swipe.Id}; }

std::optional<uint32_t> CardValueFromText(const QString& Text)
{
    const QRegularExpression Whole(QStringLiteral("^\\s*(\\d{1,10})(\\s+\\d{1,5},\\d{1,5})?\\s*$"));
    const QRegularExpression Pair(QStringLiteral("^\\s*(\\d{1,5}),(\\d{1,5})\\s*$"));
    bool Ok = false;
    qulonglong Value = 0;
    if (const QRegularExpressionMatch M = Whole.match(Text); M.hasMatch()) {
        Value = M.captured(1).toULongLong(&Ok);
    } else if (const QRegularExpressionMatch M = Pair.match(Text); M.hasMatch()) {
        const uint High = M.captured(1).toUInt();
        const uint Low = M.captured(2).toUInt();
        Ok = High <= 0xFFFF && Low <= 0xFFFF;
        Value = (qulonglong(High) << 16) | Low;
    } else if (Text.trimmed().startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)) {
        Value = Text.trimmed().mid(2).toULongLong(&Ok, 16);
    }
    if (!Ok || Value > 0xFFFFFFFFull)
        return std::nullopt;
    return uint32_t(Value);
}

TLogStatement LogStatement(const TLogQuery& Query, const std::optional<TSwipeKey>& After)
{
    QStringList Where;
    QVariantList Values;
    if (Query.Since) {
        Where << QStringLiteral("s.Time >= ?");
        Values << Query.Since->toMSecsSinceEpoch();
    }
    if (Query.Until) {
        Where << QStringLiteral("s.Time < ?");
        Values << Query.Until->toMSecsSinceEpoch();
    }
    if (!Query.Door.isEmpty()) {
        Where << QStringLiteral("s.Door = ?");
        Values << Query.Door;
    }
    if (!Query.Card.isEmpty()) {
        // Text that is no card number matches only a row that holds that very text.
        if (const std::optional<uint32_t> Value = CardValueFromText(Query.Card)) {
            Where << QStringLiteral("s.CardValue = ?");
            Values << qint64(*Value);
        } else {
            Where << QStringLiteral("s.CardNumber = ?");
            Values << Query.Card;
        }
    }
    if (!Query.NameText.isEmpty()) {
        // instr rather than LIKE: case folding is done by Qt for every script, and neither % nor
        // _ in the text means anything.
        Where << QStringLiteral("s.NameId IN (SELECT Id FROM Names WHERE instr(Folded, ?) > 0)");
        Values << Query.NameText.toCaseFolded();
    }
    if (After) {
        Where << QStringLiteral("(s.Time, s.Id) < (?, ?)");
        Values << After->TimeMs << After->Id;
    }
    QString Sql = SwipeColumns() + QStringLiteral(" FROM Swipes s JOIN Names n ON n.Id = s.NameId");
    if (!Where.isEmpty())
        Sql += QStringLiteral(" WHERE ") + Where.join(QStringLiteral(" AND "));
    Sql += QStringLiteral(" ORDER BY s.Time DESC, s.Id DESC");
    if (Query.Limit > 0) {
        Sql += QStringLiteral(" LIMIT ?");
        Values << Query.Limit;
    }
    return {Sql, Values};
}

QSqlQuery SelectSwipes(const QSqlDatabase& Db, const TLogQuery& Query, const std::optional<TSwipeKey>& After)
{
    const TLogStatement Statement = LogStatement(Query, After);
    return Exec(Db, Statement.Sql, Statement.Values);
}

QString SwipeColumns() { return QStringLiteral("SELECT s.Id, s.Time, s.Door, s.Bytes, s.CardNumber, n.Name, s.Known, s.DoorId, s.Reason"); }

TSwipeRecord SwipeAt(const QSqlQuery& Row)
{
    TSwipeRecord Swipe;
    Swipe.Id = Row.value(0).toLongLong();
    Swipe.Time = QDateTime::fromMSecsSinceEpoch(Row.value(1).toLongLong(), Qt::UTC);
    Swipe.Door = Row.value(2).toString();
    const QByteArray Bytes = Row.value(3).toByteArray();
    std::copy_n(Bytes.begin(), std::min<qsizetype>(Bytes.size(), qsizetype(Swipe.Bytes.size())), Swipe.Bytes.begin());
    Swipe.CardNumber = Row.value(4).toString();
    Swipe.Name = Row.value(5).toString();
    Swipe.Known = Row.value(6).toBool();
    Swipe.DoorId = Row.value(7).toString();
    Swipe.Reason = Row.value(8).toString();
    return Swipe;
}
