#pragma once

#include "agent/WebSettings.h"
#include "web/WebExchange.h"

#include <QObject>

#include <functional>
#include <memory>

// How much one client may take. Whatever a client sends or fails to read is bounded by these.
struct TWebLimits
{
    unsigned Connections = 128;
    unsigned PerAddress = 32;
    unsigned IdleSeconds = 15;            // a connection that sends nothing for this long is closed
    qsizetype BodyBytes = 16 * 1024;      // a larger request body is refused (413)
    size_t ConnectionMemory = 32 * 1024;  // the request's head must fit in this (431 beyond)
};

// An HTTP server (libmicrohttpd) in this thread's event loop: its epoll descriptor on a socket
// notifier and its time-outs on a single-shot timer, so the loop wakes only when a client does
// something. HTTPS when the settings give a certificate. Each request is handed on whole (head
// and body, within the limits); its answer may come later, while other clients are served.
class TWebServer : public QObject
{
public:
    using THandler = std::function<void(const TWebRequest& Request, TWebReply Reply)>;

    // Listens at once; raises Exception saying why it cannot (address in use, a certificate
    // file unreadable or not matching its key).
    TWebServer(const TWebSettings& Settings, const TWebLimits& Limits, THandler Handler, QObject* Owner = nullptr);
    // Every open connection is closed; answers still to come are dropped.
    ~TWebServer() override;

    quint16 Port() const;

    // Loads the certificate and key as serving would, without listening: raises Exception
    // saying why they cannot be used.
    static void CheckTls(const TWebSettings& Settings);

    // What the HTTP library has to say about clients (a broken TLS handshake), as debug lines.
    std::function<void(int Priority, const QString& Text)> OnSay;

    struct TCore;

private:
    std::unique_ptr<TCore> FCore;
};
