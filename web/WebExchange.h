#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

// A request as the server hands it on: its head already checked by the HTTP library, its body
// whole and within the server's limit.
struct TWebRequest
{
    QByteArray Method;
    QString Path;                    // decoded, without the query
    QMap<QString, QString> Query;    // the first value of each name
    QMap<QByteArray, QByteArray> Headers; // names in lower case
    QMap<QByteArray, QByteArray> Cookies;
    QByteArray Body;
    QHostAddress Peer;
    bool Tls = false;

    QByteArray Header(const QByteArray& LowerName) const { return Headers.value(LowerName); }
};

struct TWebResponse
{
    int Status = 200;
    QByteArray ContentType;
    QByteArray Body;
    std::vector<std::pair<QByteArray, QByteArray>> Headers{};
};

// A response body sent as it is made: server-sent events, or an export written a page at a time.
// Used on the server's thread only.
class TWebStream
{
public:
    // Beyond this much unsent, the client is too slow: the stream ends rather than grow.
    static constexpr qsizetype BacklogLimit = 512 * 1024;

    // Queues bytes; false (and the stream ends) when the client is gone or too far behind.
    bool Write(const QByteArray& Bytes);
    // Ends the response once what was written is out.
    void End();
    bool Closed() const { return FClosed; }

    // Asked for the next part when everything written is out and the stream has not ended; a
    // stream without it waits for Write.
    std::function<void()> OnDrained;
    // The connection ended (the client went, or the response was complete), once.
    std::function<void()> OnClosed;

    // ---- for the server
    struct TSink
    {
        std::function<void()> Wake; // the connection is waiting for data: take it up again
    };
    explicit TWebStream(TSink Sink) : FSink(std::move(Sink)) {}
    // Copies up to Max bytes out; 0 with nothing to give, -1 at the end.
    qsizetype Take(char* Buffer, size_t Max);
    void SetWaiting(bool Waiting) { FWaiting = Waiting; }
    void Close();

private:
    TSink FSink;
    QByteArray FBuffer;
    qsizetype FSent = 0; // of FBuffer, already taken
    bool FEnded = false;
    bool FClosed = false;
    bool FWaiting = false;
};

// The one answer to a request, given at once or later (a door's write, a password's check). A
// request whose replies all go without an answer is answered 500: no connection hangs.
class TWebReply
{
public:
    struct TLink; // the server's side of one request
    explicit TWebReply(std::shared_ptr<TLink> Link) : FLink(std::move(Link)) {}

    void Send(TWebResponse Response) const;
    // Sends the head of Response (status and headers) and returns the stream its body goes to.
    std::shared_ptr<TWebStream> Stream(TWebResponse Head) const;
    // Whether the client still waits for the answer.
    bool Open() const;

private:
    std::shared_ptr<TLink> FLink;
};
