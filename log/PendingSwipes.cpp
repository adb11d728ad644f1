#include "log/PendingSwipes.h"

#include "log/SwipeJson.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

namespace {

QByteArray Line(const QJsonObject& Object) { return QJsonDocument(Object).toJson(QJsonDocument::Compact) + '\n'; }

TSwipeRecord SwipeOf(const QJsonObject& Object)
{
    TSwipeRecord Swipe;
    Swipe.Time = QDateTime::fromString(Object[QStringLiteral("time")].toString(), Qt::ISODateWithMs).toUTC();
    Swipe.Door = Object[QStringLiteral("door")].toString();
    Swipe.DoorId = Object[QStringLiteral("doorId")].toString();
    const QByteArray Bytes = QByteArray::fromHex(Object[QStringLiteral("bytes")].toString().toLatin1());
    std::copy_n(Bytes.begin(), std::min<qsizetype>(Bytes.size(), qsizetype(Swipe.Bytes.size())), Swipe.Bytes.begin());
    Swipe.CardNumber = Object[QStringLiteral("cardNumber")].toString();
    Swipe.Name = Object[QStringLiteral("name")].toString();
    Swipe.Known = Object[QStringLiteral("known")].toBool();
    Swipe.Reason = Object[QStringLiteral("reason")].toString();
    return Swipe;
}

} // namespace

QByteArray PendingSegmentText(const std::deque<TSwipeRecord>& Swipes, const std::vector<TChangeRecord>& Changes,
                              int Dropped)
{
    QByteArray Text = Line({{QStringLiteral("segment"), QUuid::createUuid().toString(QUuid::WithoutBraces)}});
    for (const TSwipeRecord& Swipe : Swipes) {
        QJsonObject Object = SwipeJson(Swipe);
        Object.remove(QStringLiteral("id"));
        Object.insert(QStringLiteral("doorId"), Swipe.DoorId);
        Text += Line(Object);
    }
    for (const TChangeRecord& Change : Changes)
        Text += Line({{QStringLiteral("change"), ChangeJson(Change)}});
    if (Dropped > 0)
        Text += Line({{QStringLiteral("dropped"), Dropped}});
    return Text;
}

std::vector<TPendingSegment> PendingSegments(const QByteArray& Text)
{
    std::vector<TPendingSegment> Segments;
    for (const QByteArray& Raw : Text.split('\n')) {
        const QJsonObject Object = QJsonDocument::fromJson(Raw).object();
        if (Object.contains(QStringLiteral("segment")))
            Segments.push_back({Object[QStringLiteral("segment")].toString(), {}, {}, 0});
        else if (Segments.empty() || Object.isEmpty())
            continue;
        else if (Object.contains(QStringLiteral("dropped")))
            Segments.back().Dropped += Object[QStringLiteral("dropped")].toInt();
        else if (Object.contains(QStringLiteral("change")))
            Segments.back().Changes.push_back(ChangeFromJson(Object[QStringLiteral("change")].toObject()));
        else if (const TSwipeRecord Swipe = SwipeOf(Object); Swipe.Time.isValid())
            Segments.back().Swipes.push_back(Swipe);
    }
    return Segments;
}
