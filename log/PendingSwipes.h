#pragma once

#include "log/ChangeRecord.h"
#include "log/SwipeRecord.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <vector>

// Swipes that waited in memory when a program ended, as they are kept in the side file beside
// the log until a program takes them in: JSON Lines, in segments. A segment is what one program
// put there at once: a line naming it ({"segment": TOKEN}), its swipes in order, and how many
// older swipes were dropped for room ({"dropped": N}). The token lets the log take each segment
// in once, even when a program stopped between taking it in and removing the file. Changes made
// on the agent's page wait there too ({"change": {...}}).
struct TPendingSegment
{
    QString Token;
    std::vector<TSwipeRecord> Swipes;
    std::vector<TChangeRecord> Changes;
    int Dropped = 0;
};

QByteArray PendingSegmentText(const std::deque<TSwipeRecord>& Swipes, const std::vector<TChangeRecord>& Changes,
                              int Dropped);

// Every segment of Text; a last line cut short (a crash while appending) is left out.
std::vector<TPendingSegment> PendingSegments(const QByteArray& Text);
