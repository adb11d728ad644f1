#pragma once

#include "log/SwipeRecord.h"

#include <QJsonObject>
#include <QString>

// A swipe as every program prints or publishes it, named as the card listings name a card's
// fields: id, time, door, cardNumber, value, bytes, name, known, and reason: why the agent's rules
// refuse the card (empty when they do not, or no rules were asked).
QJsonObject SwipeJson(const TSwipeRecord& Swipe);

// ISO 8601 in UTC to the millisecond: "2024-05-01T06:00:00.250Z".
QString SwipeTimeText(const TSwipeRecord& Swipe);

// The five bytes in hex, byte 0 first: "010012D687".
QString SwipeBytesText(const TSwipeRecord& Swipe);
