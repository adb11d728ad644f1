#pragma once

#include "cards/RfidTags.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include <cstdint>
#include <optional>

class TDorvik;
struct TNextChange;
struct TSwipeRecord;

// What the agent publishes, as compact JSON.

// SwipeJson: id, time, door, cardNumber, value, bytes, name, known, reason.
QByteArray SwipePayload(const TSwipeRecord& Swipe);
// {"mode": "lock-unlock|momentary|timed", "delay": N}; mode null for a byte none of them names.
QByteArray DoorSettingsPayload(const TDorvik& Reader);
// {"count": N, "master": "card number", "sha256": "..."}: the hash is over the five bytes of
// every card in list order, then one byte, the master index; lower-case hex. A list changed on
// the reader shows as another hash without sending the list itself.
QByteArray CardsSummaryPayload(const TRfidTags& Tags, uint32_t Master);
// {"id": request id, "cards": [as dorvik-cli show --format json], "master": id of the master}
QByteArray CardListPayload(const QJsonValue& RequestId, const TRfidTags& Tags, uint32_t Master);
// {"time": "2026-12-15T17:00:00.000Z", "added": [names], "removed": [names], "text": "..."}:
// the door's next list change; {"time": null} when its list does not change again.
QByteArray NextChangePayload(const std::optional<TNextChange>& Next);
// {"id": request id, "ok": bool, "message": "..."}
QByteArray ResultPayload(const QJsonValue& RequestId, bool Ok, const QString& Message);
