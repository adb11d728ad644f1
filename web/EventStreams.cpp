#include "web/EventStreams.h"

#include "web/ActivityApi.h"

#include <QJsonDocument>

namespace {

QByteArray Event(const char* Name, const QJsonObject& Data, qint64 Id = 0)
{
    QByteArray Text = QByteArray("event: ") + Name + "\ndata: " + QJsonDocument(Data).toJson(QJsonDocument::Compact) + '\n';
    if (Id > 0)
        Text += "id: " + QByteArray::number(Id) + '\n';
    return Text + '\n';
}

} // namespace

TEventStreams::TEventStreams(std::function<bool(const QByteArray&)> SessionLive, QObject* Owner)
    : QObject(Owner), FSessionLive(std::move(SessionLive))
{
    connect(&FBeat, &QTimer::timeout, this, [this] { Beat(); });
}

void TEventStreams::Open(const TWebCaller& Caller, const TWebRequest& Request, TWebReply Reply)
{
    const quint64 Id = ++FLastId;
    std::shared_ptr<TWebStream> Stream = Reply.Stream({200, "text/event-stream", {}, {}});
    Stream->OnClosed = [this, Id] {
        FListeners.erase(Id);
        if (FListeners.empty())
            FBeat.stop();
    };
    // Said at once, so that the browser knows the stream is open.
    Stream->Write(": open\nretry: 5000\n\n");
    FListeners[Id] = {std::move(Stream), Caller.SessionId, Request.Query.value(QStringLiteral("q"))};
    if (!FBeat.isActive())
        FBeat.start(BeatMs);
}

void TEventStreams::Swipe(const TSwipeRecord& Swipe)
{
    const QByteArray Text = Event("swipe", SwipeRow(Swipe), Swipe.Id);
    for (auto& [Id, L] : FListeners)
        if (SwipeMatches(Swipe, L.Search))
            L.Stream->Write(Text);
}

void TEventStreams::Door(const QJsonObject& Door)
{
    const QByteArray Text = Event("door", Door);
    for (auto& [Id, L] : FListeners)
        L.Stream->Write(Text);
}

void TEventStreams::End(TListener& Listener)
{
    Listener.Stream->Write(Event("end", {}));
    Listener.Stream->End();
}

void TEventStreams::SignedOut(const QByteArray& SessionId)
{
    for (auto& [Id, L] : FListeners)
        if (L.SessionId == SessionId)
            End(L);
}

void TEventStreams::Beat()
{
    for (auto& [Id, L] : FListeners) {
        // An open page keeps its session in use: a screen that shows the door stays signed in
        // for the session's whole life.
        if (FSessionLive(L.SessionId))
            L.Stream->Write(": beat\n\n");
        else
            End(L);
    }
}
