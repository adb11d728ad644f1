#pragma once

#include "log/SwipeRecord.h"
#include "web/WebAuth.h"
#include "web/WebExchange.h"

#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

// The pages open now, each on a stream of server-sent events: "swipe" for each new swipe that
// its search picks, "door" for each change of a door. Once a minute, and only while a page is
// open, each stream gets a comment line (so a client that went away is found) and a stream whose
// session has ended is told "end" and closed. Nothing runs while no page is open.
class TEventStreams : public QObject
{
public:
    static constexpr int BeatMs = 60 * 1000;

    explicit TEventStreams(std::function<bool(const QByteArray& SessionId)> SessionLive, QObject* Owner = nullptr);

    // GET /api/events?q=TEXT
    void Open(const TWebCaller& Caller, const TWebRequest& Request, TWebReply Reply);
    void Swipe(const TSwipeRecord& Swipe);
    void Door(const QJsonObject& Door);
    void SignedOut(const QByteArray& SessionId);
    size_t Count() const { return FListeners.size(); }

private:
    struct TListener
    {
        std::shared_ptr<TWebStream> Stream;
        QByteArray SessionId;
        QString Search;
    };

    void Beat();
    void End(TListener& Listener);

    std::function<bool(const QByteArray&)> FSessionLive;
    std::map<quint64, TListener> FListeners;
    quint64 FLastId = 0;
    QTimer FBeat;
};
