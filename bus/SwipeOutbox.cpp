#include "bus/SwipeOutbox.h"

#include "bus/MqttClient.h"
#include "bus/MqttPayloads.h"
#include "log/AccessLog.h"
#include "log/SwipeRecord.h"

namespace {

// Marks are gathered for a moment: one transaction (one disk sync) for a burst of
// acknowledgements. A mark lost to a crash only sends that swipe again, with its id.
constexpr int MarkDelayMs = 50;

} // namespace

TSwipeOutbox::TSwipeOutbox(TAccessLog& Log, TMqttClient& Client, std::function<QString(const TSwipeRecord&)> Topic,
                           QObject* Owner)
    : QObject(Owner), FLog(Log), FClient(Client), FTopic(std::move(Topic))
{
    FMark.setSingleShot(true);
    connect(&FMark, &QTimer::timeout, this, [this] { MarkNow(); });
    // Swipes kept at an earlier stop are new rows of the log, sent in their turn.
    connect(&Log, &TAccessLog::Imported, this, [this] {
        FCaughtUp = false;
        Fill();
    });
}

TSwipeOutbox::~TSwipeOutbox() { MarkNow(); }

void TSwipeOutbox::Connected()
{
    MarkNow();
    FInFlight.clear();
    FLastSent = 0;
    FCaughtUp = false;
    Fill();
}

void TSwipeOutbox::Disconnected()
{
    // What was in flight is sent again from the log after the next connect.
    FInFlight.clear();
    FCaughtUp = false;
    MarkNow();
}

bool TSwipeOutbox::Send(const TSwipeRecord& Swipe)
{
    const QString Topic = FTopic(Swipe);
    if (Topic.isEmpty()) {
        // A door no longer held (or a row of another program): no topic to send it on.
        FAcknowledged.push_back(Swipe.Id);
        FMark.start(MarkDelayMs);
        if (FStrays++ == 0 && OnSay)
            OnSay(5, QStringLiteral("swipes at %1, a door the agent does not hold, are not published").arg(Swipe.Door));
        return true;
    }
    const int Mid = FClient.Publish(Topic, SwipePayload(Swipe), false);
    if (Mid == 0)
        return false;
    if (Swipe.Id > 0) {
        FInFlight[Mid] = Swipe.Id;
        FLastSent = Swipe.Id;
    }
    return true;
}

void TSwipeOutbox::Swiped(const TSwipeRecord& Swipe)
{
    if (!FClient.Connected())
        return;
    // Kept in memory by the log: sent now, and again with its id once the log takes it.
    if (Swipe.Id == 0) {
        Send(Swipe);
        return;
    }
    if (FCaughtUp && int(FInFlight.size()) < Window && Swipe.Id > FLastSent) {
        Send(Swipe);
        return;
    }
    FCaughtUp = false; // it goes out from the log, in its turn
    Fill();
}

bool TSwipeOutbox::Acknowledged(int Mid)
{
    const auto Sent = FInFlight.find(Mid);
    if (Sent == FInFlight.end())
        return false;
    FAcknowledged.push_back(Sent->second);
    FInFlight.erase(Sent);
    if (!FMark.isActive())
        FMark.start(MarkDelayMs);
    // Refilled by halves: one query of the log for many rows.
    if (!FCaughtUp && int(FInFlight.size()) <= Window / 2)
        Fill();
    return true;
}

void TSwipeOutbox::Fill()
{
    while (!FCaughtUp && FClient.Connected() && int(FInFlight.size()) < Window) {
        const int Room = Window - int(FInFlight.size());
        const std::vector<TSwipeRecord> Rows = FLog.Unpublished(Room, FLastSent);
        if (Rows.empty() && !FLog.Error().isEmpty())
            return; // the log said why; tried again at the next acknowledgement or connect
        for (const TSwipeRecord& Row : Rows) {
            FLastSent = std::max(FLastSent, Row.Id);
            if (!Send(Row))
                return;
        }
        FCaughtUp = int(Rows.size()) < Room;
    }
}

void TSwipeOutbox::MarkNow()
{
    FMark.stop();
    if (FAcknowledged.empty())
        return;
    // The log's writer keeps them until the file takes them.
    FLog.MarkPublished(FAcknowledged);
    FAcknowledged.clear();
}
