#include "bus/MqttClient.h"

#include "agent/AgentLog.h"

#include <QFile>
#include <QSocketNotifier>

#include <mosquitto.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int FirstRetryMs = 1000;
constexpr int LastRetryMs = 15000;
constexpr int ConnectWaitMs = 10000;
constexpr int StopWaitMs = 2000;

// Once for the process, however many clients come and go.
void UseLibrary()
{
    static const struct TLibrary
    {
        TLibrary() { mosquitto_lib_init(); }
        ~TLibrary() { mosquitto_lib_cleanup(); }
    } Library;
}

// MQTT 3.1.1's CONNACK return codes.
QString RefusalText(int Code)
{
    switch (Code) {
    case 1: return QStringLiteral("the broker does not speak MQTT 3.1.1");
    case 2: return QStringLiteral("the broker refused the client-id");
    case 3: return QStringLiteral("the broker is unavailable");
    case 4: return QStringLiteral("the broker refused the username or password (check username and password-file)");
    case 5: return QStringLiteral("the broker refused the connection: not authorized (check username and password-file)");
    }
    return QStringLiteral("the broker refused the connection (code %1)").arg(Code);
}

} // namespace

struct TMqttClient::TSession
{
    mosquitto* Mosq = nullptr;
    // Children of the client. A session may end inside a notifier's own signal, so they are
    // switched off before the library closes their socket and deleted once that has returned.
    QSocketNotifier* Read = nullptr;
    QSocketNotifier* Write = nullptr;

    ~TSession()
    {
        for (QSocketNotifier* Notifier : {Read, Write})
            if (Notifier) {
                Notifier->setEnabled(false);
                Notifier->deleteLater();
            }
        mosquitto_destroy(Mosq);
    }
};

TMqttClient::TMqttClient(QObject* Owner) : QObject(Owner)
{
    UseLibrary();
    FRetry.setSingleShot(true);
    connect(&FRetry, &QTimer::timeout, this, [this] { Guarded([this] { Open(); }); });
    connect(&FKeepalive, &QTimer::timeout, this, [this] {
        Guarded([this] {
            if (FSession)
                AfterLoop(mosquitto_loop_misc(FSession->Mosq));
        });
    });
    FConnectWait.setSingleShot(true);
    connect(&FConnectWait, &QTimer::timeout, this, [this] {
        Guarded([this] {
            if (FSession && !FConnected)
                Lost(MOSQ_ERR_TIMEOUT);
        });
    });
    FStopWait.setSingleShot(true);
    connect(&FStopWait, &QTimer::timeout, this, [this] { Guarded([this] { Finish(); }); });
}

// Every handler the event loop calls comes through here (the owner's handlers run inside them):
// an error is said, never thrown into the loop.
template <typename Handler> void TMqttClient::Guarded(Handler&& Run)
{
    try {
        Run();
    } catch (const std::exception& E) {
        Say(3, QString::fromUtf8(E.what()));
    }
}

TMqttClient::~TMqttClient() { Close(); }

void TMqttClient::Say(int Priority, const QString& Text) const
{
    const QString Line = QStringLiteral("mqtt %1: %2").arg(FSettings.Address(), Text);
    if (OnSay)
        return OnSay(Priority, Line);
    AgentLog(TPriority(Priority), Line);
}

void TMqttClient::Start(const TMqttSettings& Settings, const QString& WillTopic, const QByteArray& WillPayload)
{
    FSettings = Settings;
    FWillTopic = WillTopic;
    FWillPayload = WillPayload;
    FStarted = true;
    FBackoffMs = 0;
    FLastFailure.clear();
    Open();
}

void TMqttClient::Open()
{
    Close();
    if (!FStarted)
        return;
    FRefused = -1;
    FLibraryError.clear();
    const QByteArray Id = FSettings.ClientId.toUtf8();
    auto Session = std::make_unique<TSession>();
    Session->Mosq = mosquitto_new(Id.constData(), true, this);
    if (!Session->Mosq)
        return Failed(3, QStringLiteral("cannot make a client: out of memory"));
    mosquitto *const M = Session->Mosq;
    FSession = std::move(Session);
    mosquitto_int_option(M, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(M, ConnectCallback);
    mosquitto_publish_callback_set(M, PublishCallback);
    mosquitto_message_callback_set(M, MessageCallback);
    mosquitto_log_callback_set(M, LogCallback);
    const QByteArray WillTopic = FWillTopic.toUtf8();
    if (!WillTopic.isEmpty())
        mosquitto_will_set(M, WillTopic.constData(), int(FWillPayload.size()), FWillPayload.constData(), 1, true);
    if (!FSettings.Username.isEmpty()) {
        QByteArray Password;
        if (!FSettings.PasswordFile.isEmpty()) {
            QFile File(FSettings.PasswordFile);
            if (!File.open(QIODevice::ReadOnly))
                return Failed(3, QStringLiteral("cannot read password-file %1: %2").arg(FSettings.PasswordFile, File.errorString()));
            // The first line as it stands (spaces are a password's own), without its line end.
            Password = File.readLine();
            if (Password.endsWith('\n'))
                Password.chop(Password.endsWith("\r\n") ? 2 : 1);
        }
        mosquitto_username_pw_set(M, FSettings.Username.toUtf8().constData(),
                                  FSettings.PasswordFile.isEmpty() ? nullptr : Password.constData());
    }
    if (FSettings.Tls()) {
        const QByteArray Ca = QFile::encodeName(FSettings.CaFile), Cert = QFile::encodeName(FSettings.CertFile),
                         Key = QFile::encodeName(FSettings.KeyFile);
        const int Rc = mosquitto_tls_set(M, Ca.constData(), nullptr, Cert.isEmpty() ? nullptr : Cert.constData(),
                                         Key.isEmpty() ? nullptr : Key.constData(), nullptr);
        if (Rc != MOSQ_ERR_SUCCESS)
            return Failed(3, QStringLiteral("cannot use ca-file %1%2: %3")
                                 .arg(FSettings.CaFile, Cert.isEmpty() ? QString() : QStringLiteral(", cert-file or key-file"), Reason(Rc)));
    }
    // Asynchronous: the TCP connect and the TLS handshake go on in the event loop.
    const int Rc = mosquitto_connect_async(M, FSettings.Host.toUtf8().constData(), FSettings.Port, FSettings.Keepalive);
    if (Rc != MOSQ_ERR_SUCCESS)
        return Lost(Rc);
    Watch();
    FConnectWait.start(ConnectWaitMs);
    // A quarter of the keepalive: a ping goes out in time whatever the phase of the timer.
    FKeepalive.start(std::max(250, FSettings.Keepalive * 250));
}

void TMqttClient::Watch()
{
    const int Socket = mosquitto_socket(FSession->Mosq);
    if (Socket < 0)
        return Lost(MOSQ_ERR_NO_CONN);
    FSession->Read = new QSocketNotifier(Socket, QSocketNotifier::Read, this);
    FSession->Write = new QSocketNotifier(Socket, QSocketNotifier::Write, this);
    connect(FSession->Read, &QSocketNotifier::activated, this, [this] {
        Guarded([this] { AfterLoop(mosquitto_loop_read(FSession->Mosq, 1)); });
    });
    connect(FSession->Write, &QSocketNotifier::activated, this, [this] {
        Guarded([this] {
            int Rc = mosquitto_loop_write(FSession->Mosq, 1);
            // A TLS handshake that waited for the socket goes on in the read step.
            if (Rc == MOSQ_ERR_SUCCESS && !FConnected)
                Rc = mosquitto_loop_read(FSession->Mosq, 1);
            AfterLoop(Rc);
        });
    });
    UpdateWrite();
}

void TMqttClient::UpdateWrite()
{
    if (FSession && FSession->Write)
        FSession->Write->setEnabled(mosquitto_want_write(FSession->Mosq));
}

// The library's callbacks only note what happened; the session is closed here, once the
// library has returned.
void TMqttClient::AfterLoop(int Rc)
{
    if (!FSession)
        return;
    if (Rc == MOSQ_ERR_SUCCESS && FRefused >= 0)
        Rc = MOSQ_ERR_CONN_REFUSED;
    if (Rc != MOSQ_ERR_SUCCESS)
        return Lost(Rc);
    UpdateWrite();
    if (FStopped && FUnacked.empty())
        Finish();
}

QString TMqttClient::Reason(int Rc) const
{
    if (Rc == MOSQ_ERR_CONN_REFUSED && FRefused >= 0)
        return RefusalText(FRefused);
    if (Rc == MOSQ_ERR_TLS || (Rc == MOSQ_ERR_ERRNO && FLibraryError.contains(QStringLiteral("SSL"))))
        return QStringLiteral("TLS failed: %1 (does ca-file %2 hold the broker's CA, and does the broker's certificate name %3?)")
            .arg(FLibraryError.isEmpty() ? QStringLiteral("no detail") : FLibraryError, FSettings.CaFile, FSettings.Host);
    if (Rc == MOSQ_ERR_TIMEOUT)
        return QStringLiteral("no answer within %1 s").arg(ConnectWaitMs / 1000);
    if (Rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(Rc));
}

void TMqttClient::Lost(int Rc)
{
    const QString Why = Reason(Rc);
    const bool Refused = FRefused >= 0 || Rc == MOSQ_ERR_TLS || Rc == MOSQ_ERR_AUTH || Why.startsWith(u"TLS");
    const bool WasConnected = std::exchange(FConnected, false);
    Close();
    if (FStopped)
        return Finish();
    if (WasConnected) {
        FLastFailure.clear();
        Say(4, QStringLiteral("lost the broker (%1); connecting again").arg(Why));
        if (OnDisconnected)
            OnDisconnected();
        FBackoffMs = 0;
        return RetryLater();
    }
    // A wrong password or certificate is the operator's to fix: an error, said once.
    Failed(Refused ? 3 : 4, QStringLiteral("cannot connect: %1").arg(Why));
}

void TMqttClient::Failed(int Priority, const QString& Why)
{
    Close();
    if (Why != FLastFailure)
        Say(Priority, Why + QStringLiteral("; trying again"));
    FLastFailure = Why;
    RetryLater();
}

void TMqttClient::RetryLater()
{
    if (!FStarted)
        return;
    FBackoffMs = FBackoffMs == 0 ? FirstRetryMs : std::min(2 * FBackoffMs, LastRetryMs);
    FRetry.start(FBackoffMs);
}

void TMqttClient::Close()
{
    FConnectWait.stop();
    FKeepalive.stop();
    FConnected = false;
    FUnacked.clear();
    FSession.reset();
}

int TMqttClient::Publish(const QString& Topic, const QByteArray& Payload, bool Retain)
{
    if (!FConnected)
        return 0;
    int Mid = 0;
    const int Rc = mosquitto_publish(FSession->Mosq, &Mid, Topic.toUtf8().constData(), int(Payload.size()),
                                     Payload.constData(), 1, Retain);
    if (Rc != MOSQ_ERR_SUCCESS) {
        // Raised later from the event loop, never inside a caller's step.
        QMetaObject::invokeMethod(this, [this, Rc] { if (FSession) Lost(Rc); }, Qt::QueuedConnection);
        return 0;
    }
    FUnacked.insert(Mid);
    UpdateWrite();
    return Mid;
}

void TMqttClient::Subscribe(const QString& Topic)
{
    if (!FConnected)
        return;
    mosquitto_subscribe(FSession->Mosq, nullptr, Topic.toUtf8().constData(), 1);
    UpdateWrite();
}

void TMqttClient::Stop(std::function<void()> Done)
{
    FStarted = false;
    FRetry.stop();
    FStopped = std::move(Done);
    if (!FConnected || FUnacked.empty())
        return Finish();
    FStopWait.start(StopWaitMs);
}

void TMqttClient::Finish()
{
    FStopWait.stop();
    if (FSession && FConnected) {
        // DISCONNECT: the broker drops the last will.
        mosquitto_disconnect(FSession->Mosq);
        if (mosquitto_want_write(FSession->Mosq))
            mosquitto_loop_write(FSession->Mosq, 1);
    }
    Close();
    if (FStopped)
        std::exchange(FStopped, nullptr)();
}

void TMqttClient::ConnectCallback(mosquitto*, void* Self, int Rc)
{
    auto* C = static_cast<TMqttClient*>(Self);
    if (Rc != 0) {
        C->FRefused = Rc;
        return;
    }
    C->FConnected = true;
    C->FConnectWait.stop();
    C->FBackoffMs = 0;
    C->FLastFailure.clear();
    C->Say(5, QStringLiteral("connected"));
    if (C->OnConnected)
        C->OnConnected();
}

void TMqttClient::PublishCallback(mosquitto*, void* Self, int Mid)
{
    auto* C = static_cast<TMqttClient*>(Self);
    C->FUnacked.erase(Mid);
    if (C->OnPublished)
        C->OnPublished(Mid);
}

void TMqttClient::MessageCallback(mosquitto*, void* Self, const mosquitto_message* Message)
{
    auto* C = static_cast<TMqttClient*>(Self);
    if (C->OnMessage)
        C->OnMessage(QString::fromUtf8(Message->topic),
                     QByteArray(static_cast<const char*>(Message->payload), Message->payloadlen), Message->retain);
}

void TMqttClient::LogCallback(mosquitto*, void* Self, int Level, const char* Text)
{
    if (Level & MOSQ_LOG_ERR)
        static_cast<TMqttClient*>(Self)->FLibraryError = QString::fromUtf8(Text);
}
