#include "web/WebServer.h"

#include "common/Errors.h"
#include "web/SecurityHeaders.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>

namespace {

struct TExchange;

// A streamed body as the library reads it: the stream and the connection it waits on.
struct TStreamBody
{
    std::shared_ptr<TWebStream> Stream;
    TWebServer::TCore* Core;
    MHD_Connection* Connection;
};

} // namespace

struct TWebServer::TCore
{
    TCore(TWebServer& Server, const TWebLimits& Given, THandler Answer) : Owner(Server), Limits(Given), Handler(std::move(Answer)) {}

    TWebServer& Owner;
    TWebLimits Limits;
    THandler Handler;
    bool Tls = false;
    QByteArray Cert;
    QByteArray Key;
    QString LastError; // what the library said last, for the reason a start failed
    MHD_Daemon* Daemon = nullptr;
    std::unique_ptr<QSocketNotifier> Notifier;
    QTimer Timer;
    std::set<MHD_Connection*> Suspended;
    bool Stopping = false; // nothing is put to sleep again: every connection ends

    void Say(int Priority, const QString& Text) const
    {
        if (Owner.OnSay)
            Owner.OnSay(Priority, Text);
    }

    // Everything the library has ready, then its next time-out; nothing polls.
    void Run()
    {
        try {
            MHD_run(Daemon);
            MHD_UNSIGNED_LONG_LONG Ms = 0;
            if (MHD_get_timeout(Daemon, &Ms) == MHD_YES)
                Timer.start(int(std::min<MHD_UNSIGNED_LONG_LONG>(Ms, 24 * 3600 * 1000)));
            else
                Timer.stop();
        } catch (const std::exception& E) {
            ReportException(E);
        }
    }

    void Wake() { Timer.start(0); }

    void Suspend(MHD_Connection* Connection)
    {
        MHD_suspend_connection(Connection);
        Suspended.insert(Connection);
    }

    void Resume(MHD_Connection* Connection)
    {
        if (Suspended.erase(Connection) == 0)
            return;
        MHD_resume_connection(Connection);
        Wake();
    }
};

struct TWebReply::TLink
{
    TExchange* Exchange = nullptr; // none once the request has ended
    bool Answered = false;

    void Answer(TWebResponse Response, std::shared_ptr<TWebStream> Stream);
    ~TLink();
};

namespace {

struct TExchange
{
    TExchange(TWebServer::TCore& Server, MHD_Connection* Client) : Core(Server), Connection(Client) {}

    TWebServer::TCore& Core;
    MHD_Connection* Connection;
    QByteArray Body;
    bool TooLarge = false;
    bool Handled = false;
    bool Waiting = false; // suspended until the answer comes
    std::optional<TWebResponse> Ready;
    std::shared_ptr<TWebStream> Stream;
    std::weak_ptr<TWebReply::TLink> Link;
};

ssize_t ReadStream(void* Cls, uint64_t, char* Buffer, size_t Max)
{
    auto& Body = *static_cast<TStreamBody*>(Cls);
    try {
        if (Body.Core->Stopping)
            return MHD_CONTENT_READER_END_OF_STREAM;
        const qsizetype Taken = Body.Stream->Take(Buffer, Max);
        if (Taken < 0)
            return MHD_CONTENT_READER_END_OF_STREAM;
        if (Taken > 0)
            return ssize_t(Taken);
        // Nothing to send: the connection sleeps until the stream has more.
        Body.Core->Suspend(Body.Connection);
        Body.Stream->SetWaiting(true);
        return 0;
    } catch (const std::exception& E) {
        ReportException(E);
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
}

void FreeStream(void* Cls) { delete static_cast<TStreamBody*>(Cls); }

MHD_Result Queue(TExchange& X, const TWebResponse& Response, const std::shared_ptr<TWebStream>& Stream)
{
    MHD_Response* R = Stream ? MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024, ReadStream,
                                                                 new TStreamBody{Stream, &X.Core, X.Connection}, FreeStream)
                             : MHD_create_response_from_buffer(size_t(Response.Body.size()), const_cast<char*>(Response.Body.constData()),
                                                               MHD_RESPMEM_MUST_COPY);
    if (!R)
        return MHD_NO;
    for (const auto& [Name, Value] : SecurityHeaders())
        MHD_add_response_header(R, Name.constData(), Value.constData());
    if (!Response.ContentType.isEmpty())
        MHD_add_response_header(R, "Content-Type", Response.ContentType.constData());
    for (const auto& [Name, Value] : Response.Headers) {
        MHD_del_response_header(R, Name.constData(), nullptr); // a handler's own Cache-Control wins
        MHD_add_response_header(R, Name.constData(), Value.constData());
    }
    const MHD_Result Queued = MHD_queue_response(X.Connection, unsigned(Response.Status), R);
    MHD_destroy_response(R);
    return Queued;
}

MHD_Result QueueText(TExchange& X, int Status, const char* Text)
{
    return Queue(X, {Status, "text/plain; charset=utf-8", QByteArray(Text) + '\n'}, nullptr);
}

MHD_Result CollectValue(void* Cls, MHD_ValueKind, const char* Key, const char* Value)
{
    if (Key)
        static_cast<QMap<QByteArray, QByteArray>*>(Cls)->insert(QByteArray(Key), QByteArray(Value ? Value : ""));
    return MHD_YES;
}

QMap<QByteArray, QByteArray> Values(MHD_Connection* Connection, MHD_ValueKind Kind)
{
    QMap<QByteArray, QByteArray> Found;
    MHD_get_connection_values(Connection, Kind, CollectValue, &Found);
    return Found;
}

TWebRequest RequestOf(TExchange& X, const char* Url, const char* Method)
{
    TWebRequest R;
    R.Method = Method;
    R.Path = QString::fromUtf8(Url);
    R.Body = X.Body;
    R.Tls = X.Core.Tls;
    const QMap<QByteArray, QByteArray> Headers = Values(X.Connection, MHD_HEADER_KIND);
    for (auto I = Headers.cbegin(); I != Headers.cend(); ++I)
        R.Headers.insert(I.key().toLower(), I.value());
    R.Cookies = Values(X.Connection, MHD_COOKIE_KIND);
    const QMap<QByteArray, QByteArray> Query = Values(X.Connection, MHD_GET_ARGUMENT_KIND);
    for (auto I = Query.cbegin(); I != Query.cend(); ++I)
        R.Query.insert(QString::fromUtf8(I.key()), QString::fromUtf8(I.value()));
    if (const MHD_ConnectionInfo* Info = MHD_get_connection_info(X.Connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
        R.Peer = QHostAddress(Info->client_addr);
    return R;
}

MHD_Result Access(void* Cls, MHD_Connection* Connection, const char* Url, const char* Method, const char*,
                  const char* Data, size_t* DataSize, void** State)
{
    auto& Core = *static_cast<TWebServer::TCore*>(Cls);
    try {
        auto* X = static_cast<TExchange*>(*State);
        if (!X) {
            *State = X = new TExchange(Core, Connection);
            const char* Length = MHD_lookup_connection_value(Connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            // Refused before a byte of it is read.
            if (Length && std::strtoull(Length, nullptr, 10) > uint64_t(Core.Limits.BodyBytes)) {
                X->TooLarge = true;
                return QueueText(*X, 413, "The request is too large.");
            }
            return MHD_YES;
        }
        if (*DataSize > 0) {
            if (!X->TooLarge && X->Body.size() + qsizetype(*DataSize) <= Core.Limits.BodyBytes)
                X->Body.append(Data, qsizetype(*DataSize));
            else if (!std::exchange(X->TooLarge, true))
                QueueText(*X, 413, "The request is too large.");
            *DataSize = 0;
            return MHD_YES;
        }
        if (X->TooLarge)
            return MHD_YES; // answered already
        if (X->Ready)
            return Queue(*X, *X->Ready, X->Stream);
        if (std::exchange(X->Handled, true) || Core.Stopping)
            return QueueText(*X, 503, "The server is stopping.");
        const QByteArray Verb(Method);
        static const QByteArray Verbs[] = {MHD_HTTP_METHOD_GET, MHD_HTTP_METHOD_HEAD, MHD_HTTP_METHOD_POST, MHD_HTTP_METHOD_PUT,
                                           MHD_HTTP_METHOD_PATCH, MHD_HTTP_METHOD_DELETE};
        if (std::find(std::begin(Verbs), std::end(Verbs), Verb) == std::end(Verbs))
            return QueueText(*X, 405, "Method not allowed.");
        auto Link = std::make_shared<TWebReply::TLink>();
        Link->Exchange = X;
        X->Link = Link;
        Core.Handler(RequestOf(*X, Url, Method), TWebReply(std::move(Link)));
        if (X->Ready)
            return Queue(*X, *X->Ready, X->Stream);
        if (Core.Stopping)
            return QueueText(*X, 503, "The server is stopping.");
        X->Waiting = true;
        Core.Suspend(Connection);
        return MHD_YES;
    } catch (const std::exception& E) {
        ReportException(E);
        return MHD_NO;
    }
}

void Completed(void*, MHD_Connection*, void** State, MHD_RequestTerminationCode)
{
    auto* X = static_cast<TExchange*>(*State);
    if (!X)
        return;
    *State = nullptr;
    if (auto Link = X->Link.lock())
        Link->Exchange = nullptr;
    const std::shared_ptr<TWebStream> Stream = X->Stream;
    delete X;
    if (Stream)
        Stream->Close();
}

// %XX decoded in place, except %00: a path that hides a NUL stays as it came and names nothing.
size_t Unescape(void*, MHD_Connection*, char* Text)
{
    const auto Digit = [](char C) { return std::isxdigit(uchar(C)) ? (std::isdigit(uchar(C)) ? C - '0' : (C | 0x20) - 'a' + 10) : -1; };
    char* Out = Text;
    for (const char* In = Text; *In; ++Out) {
        const int High = In[0] == '%' ? Digit(In[1]) : -1;
        const int Low = High >= 0 ? Digit(In[2]) : -1;
        if (Low >= 0 && (High | Low) != 0) {
            *Out = char(High * 16 + Low);
            In += 3;
        } else {
            *Out = *In++;
        }
    }
    *Out = '\0';
    return size_t(Out - Text);
}

void Log(void* Cls, const char* Format, va_list Arguments)
{
    auto& Core = *static_cast<TWebServer::TCore*>(Cls);
    char Text[512];
    std::vsnprintf(Text, sizeof Text, Format, Arguments);
    Core.LastError = QString::fromUtf8(Text).trimmed();
    Core.Say(7, QStringLiteral("web: %1").arg(Core.LastError));
}

QByteArray ReadPem(const QString& FileName, const char* What)
{
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("[web] cannot read the %1 %2: %3").arg(QLatin1String(What), FileName, File.errorString()).toStdString());
    return File.read(1024 * 1024) + '\0';
}

// The listening address, as the library takes it.
union TSocketAddress
{
    sockaddr Any;
    sockaddr_in V4;
    sockaddr_in6 V6;
};

TSocketAddress SocketAddress(const TWebSettings& Settings)
{
    TSocketAddress A{};
    if (Settings.Address.protocol() == QAbstractSocket::IPv6Protocol) {
        A.V6.sin6_family = AF_INET6;
        A.V6.sin6_port = htons(Settings.Port);
        const Q_IPV6ADDR Bytes = Settings.Address.toIPv6Address();
        std::memcpy(&A.V6.sin6_addr, Bytes.c, sizeof Bytes.c);
    } else {
        A.V4.sin_family = AF_INET;
        A.V4.sin_port = htons(Settings.Port);
        A.V4.sin_addr.s_addr = htonl(Settings.Address.toIPv4Address());
    }
    return A;
}

} // namespace

void TWebReply::TLink::Answer(TWebResponse Response, std::shared_ptr<TWebStream> Stream)
{
    if (std::exchange(Answered, true) || !Exchange)
        return;
    Exchange->Ready = std::move(Response);
    Exchange->Stream = std::move(Stream);
    if (std::exchange(Exchange->Waiting, false))
        Exchange->Core.Resume(Exchange->Connection);
}

TWebReply::TLink::~TLink()
{
    if (!Answered)
        Answer({500, "text/plain; charset=utf-8", "The request was not answered.\n"}, nullptr);
}

void TWebReply::Send(TWebResponse Response) const { FLink->Answer(std::move(Response), nullptr); }

std::shared_ptr<TWebStream> TWebReply::Stream(TWebResponse Head) const
{
    TWebServer::TCore* Core = FLink->Exchange ? &FLink->Exchange->Core : nullptr;
    MHD_Connection* Connection = FLink->Exchange ? FLink->Exchange->Connection : nullptr;
    auto Stream = std::make_shared<TWebStream>(TWebStream::TSink{[Core, Connection] {
        if (Core)
            Core->Resume(Connection);
    }});
    if (!FLink->Exchange || FLink->Answered)
        Stream->Close();
    FLink->Answer(std::move(Head), Stream);
    return Stream;
}

bool TWebReply::Open() const { return FLink->Exchange && !FLink->Answered; }

TWebServer::TWebServer(const TWebSettings& Settings, const TWebLimits& Limits, THandler Handler, QObject* Owner)
    : QObject(Owner), FCore(std::make_unique<TCore>(*this, Limits, std::move(Handler)))
{
    TCore& C = *FCore;
    C.Tls = Settings.Tls();
    const TSocketAddress Address = SocketAddress(Settings);
    unsigned Flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    if (Settings.Address.protocol() == QAbstractSocket::IPv6Protocol)
        Flags |= Settings.Address == QHostAddress::AnyIPv6 ? MHD_USE_DUAL_STACK : MHD_USE_IPv6;
    std::vector<MHD_OptionItem> Options = {
        {MHD_OPTION_NOTIFY_COMPLETED, intptr_t(&Completed), nullptr},
        {MHD_OPTION_EXTERNAL_LOGGER, intptr_t(&Log), &C},
        {MHD_OPTION_CONNECTION_LIMIT, intptr_t(Limits.Connections), nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, intptr_t(Limits.PerAddress), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, intptr_t(Limits.IdleSeconds), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, intptr_t(Limits.ConnectionMemory), nullptr},
        {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
        {MHD_OPTION_LISTENING_ADDRESS_REUSE, 1, nullptr},
        {MHD_OPTION_SOCK_ADDR, 0, const_cast<sockaddr*>(&Address.Any)},
        {MHD_OPTION_UNESCAPE_CALLBACK, intptr_t(&Unescape), nullptr},
    };
    if (C.Tls) {
        Flags |= MHD_USE_TLS;
        C.Cert = ReadPem(Settings.CertFile, "certificate");
        C.Key = ReadPem(Settings.KeyFile, "key");
        Options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, C.Cert.data()});
        Options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, C.Key.data()});
        Options.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>("NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2")});
    }
    Options.push_back({MHD_OPTION_END, 0, nullptr});
    C.Daemon = MHD_start_daemon(Flags, Settings.Port, nullptr, nullptr, Access, &C, MHD_OPTION_ARRAY, Options.data(), MHD_OPTION_END);
    if (!C.Daemon)
        throw Exception(QStringLiteral("[web] cannot serve %1: %2")
                            .arg(Settings.Url(), C.LastError.isEmpty() ? QStringLiteral("the library refused the settings") : C.LastError)
                            .toStdString());
    const MHD_DaemonInfo* Epoll = MHD_get_daemon_info(C.Daemon, MHD_DAEMON_INFO_EPOLL_FD);
    C.Notifier = std::make_unique<QSocketNotifier>(Epoll->epoll_fd, QSocketNotifier::Read);
    connect(C.Notifier.get(), &QSocketNotifier::activated, this, [&C] { C.Run(); });
    C.Timer.setSingleShot(true);
    connect(&C.Timer, &QTimer::timeout, this, [&C] { C.Run(); });
}

TWebServer::~TWebServer()
{
    TCore& C = *FCore;
    C.Notifier.reset();
    // The library must not be stopped with a connection asleep: each is woken and ended.
    C.Stopping = true;
    for (MHD_Connection* Connection : std::exchange(C.Suspended, {}))
        MHD_resume_connection(Connection);
    MHD_run(C.Daemon);
    MHD_stop_daemon(C.Daemon);
}

void TWebServer::CheckTls(const TWebSettings& Settings)
{
    if (!Settings.Tls())
        return;
    QByteArray Cert = ReadPem(Settings.CertFile, "certificate");
    QByteArray Key = ReadPem(Settings.KeyFile, "key");
    QString Said;
    const auto Remember = [](void* Cls, const char* Format, va_list Arguments) {
        char Text[512];
        std::vsnprintf(Text, sizeof Text, Format, Arguments);
        *static_cast<QString*>(Cls) = QString::fromUtf8(Text).trimmed();
    };
    const auto Refuse = [](void*, MHD_Connection*, const char*, const char*, const char*, const char*, size_t*, void**) { return MHD_NO; };
    MHD_OptionItem Options[] = {
        {MHD_OPTION_EXTERNAL_LOGGER, intptr_t(+Remember), &Said},
        {MHD_OPTION_HTTPS_MEM_CERT, 0, Cert.data()},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, Key.data()},
        {MHD_OPTION_END, 0, nullptr},
    };
    MHD_Daemon* Trial = MHD_start_daemon(MHD_USE_NO_LISTEN_SOCKET | MHD_USE_TLS | MHD_USE_ERROR_LOG, 0, nullptr, nullptr, +Refuse, nullptr,
                                         MHD_OPTION_ARRAY, Options, MHD_OPTION_END);
    if (!Trial)
        throw Exception(QStringLiteral("[web] the certificate %1 and the key %2 cannot be used (%3): each must be "
                                       "a PEM file, and the key the certificate's own")
                            .arg(Settings.CertFile, Settings.KeyFile, Said)
                            .toStdString());
    MHD_stop_daemon(Trial);
}

quint16 TWebServer::Port() const
{
    const MHD_DaemonInfo* Info = MHD_get_daemon_info(FCore->Daemon, MHD_DAEMON_INFO_BIND_PORT);
    return Info ? Info->port : 0;
}
