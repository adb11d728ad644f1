#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <vector>

class TAccessLog;
class TMqttClient;
struct TSwipeRecord;

// Swipes on their way to the broker. The log is the queue: a swipe stays unpublished there until
// the broker has acknowledged it, so nothing is lost while the broker is away or the agent is
// down. After every connect the unpublished rows go out oldest first, at most Window at a time;
// a swipe that arrives while the queue is empty goes out at once.
class TSwipeOutbox : public QObject
{
public:
    static constexpr int Window = 100;

    // Topic names the swipe's topic; empty when no door it knows logged the swipe.
    TSwipeOutbox(TAccessLog& Log, TMqttClient& Client, std::function<QString(const TSwipeRecord&)> Topic,
                 QObject* Owner = nullptr);
    ~TSwipeOutbox() override;

    void Connected();
    void Disconnected();
    // A swipe just logged (Id 0: kept in memory, as the log could not take it).
    void Swiped(const TSwipeRecord& Swipe);
    // The broker acknowledged message Mid: true when it was a swipe of ours.
    bool Acknowledged(int Mid);
    // Writes the acknowledgements still held to the log.
    void MarkNow();

    std::function<void(int Priority, const QString& Text)> OnSay;

private:
    void Fill();
    bool Send(const TSwipeRecord& Swipe);

    TAccessLog& FLog;
    TMqttClient& FClient;
    std::function<QString(const TSwipeRecord&)> FTopic;
    std::map<int, qint64> FInFlight; // message id -> row id
    qint64 FLastSent = 0;
    bool FCaughtUp = false;          // every unpublished row up to FLastSent is on its way
    std::vector<qint64> FAcknowledged;
    QTimer FMark;
    int FStrays = 0;
};
