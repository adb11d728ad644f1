#pragma once

#include "bus/MqttSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <set>

struct mosquitto;
class QSocketNotifier;

// One connection to a broker through libmosquitto, driven by the thread's event loop: its socket
// watched by notifiers (writes only while the library has something to send), its keepalive on
// a timer. Taken again with backoff whenever it fails or drops; a lost connection is seen in
// what the loop calls return. Every message goes with QoS 1.
class TMqttClient : public QObject
{
public:
    explicit TMqttClient(QObject* Owner = nullptr);
    ~TMqttClient() override;

    // Connects, and keeps connecting until Stop. WillTopic gets WillPayload (retained) when the
    // connection dies without a goodbye.
    void Start(const TMqttSettings& Settings, const QString& WillTopic, const QByteArray& WillPayload);
    bool Connected() const { return FConnected; }
    const TMqttSettings& Settings() const { return FSettings; }

    // The message id, whose acknowledgement OnPublished reports; 0 when not connected.
    int Publish(const QString& Topic, const QByteArray& Payload, bool Retain);
    void Subscribe(const QString& Topic);
    // Waits (a short while at most) for what was published to be acknowledged, says goodbye and
    // closes; Done runs once, at once when not connected.
    void Stop(std::function<void()> Done);

    std::function<void()> OnConnected;
    std::function<void()> OnDisconnected; // only after OnConnected
    std::function<void(int Mid)> OnPublished;
    // Retained: the broker kept it from before (a retained message, sent again at every subscribe).
    std::function<void(const QString& Topic, const QByteArray& Payload, bool Retained)> OnMessage;
    std::function<void(int Priority, const QString& Text)> OnSay;

private:
    struct TSession;

    void Open();
    void Close();
    void Watch();
    void AfterLoop(int Rc);
    void Lost(int Rc);
    void Failed(int Priority, const QString& Why);
    void RetryLater();
    void UpdateWrite();
    void Finish();
    QString Reason(int Rc) const;
    void Say(int Priority, const QString& Text) const;
    template <typename Handler> void Guarded(Handler&& Run);

    static void ConnectCallback(mosquitto*, void* Self, int Rc);
    static void PublishCallback(mosquitto*, void* Self, int Mid);
    static void MessageCallback(mosquitto*, void* Self, const struct mosquitto_message* Message);
    static void LogCallback(mosquitto*, void* Self, int Level, const char* Text);

    TMqttSettings FSettings;
    QString FWillTopic;
    QByteArray FWillPayload;
    std::unique_ptr<TSession> FSession;
    bool FConnected = false;
    bool FStarted = false;
    int FRefused = -1;       // the broker's CONNACK code when it refused, else -1
    QString FLibraryError;   // libmosquitto's last error line (OpenSSL's words for a TLS failure)
    QString FLastFailure;    // said once until it changes
    int FBackoffMs = 0;
    std::set<int> FUnacked;
    std::function<void()> FStopped;
    QTimer FRetry;
    QTimer FKeepalive;
    QTimer FConnectWait;
    QTimer FStopWait;
};
