#pragma once

#include <QByteArray>
#include <QString>

#include <mutex>
#include <vector>

struct mosquitto;

// A test's own client of the broker on a thread of libmosquitto's: it takes every message on
// Subscription as it comes and can publish. Connects again by itself after a broker restart; a
// Persistent one keeps its session there, so nothing published meanwhile passes it by.
class MqttProbe
{
public:
    struct Message
    {
        QString Topic;
        QByteArray Payload;
        bool Retained;
        qint64 AtUs; // steady clock
    };

    MqttProbe(int Port, const QString& Subscription = QStringLiteral("#"), bool Persistent = false);
    ~MqttProbe();

    bool Subscribed() const;
    size_t Count() const;
    // What came on Topic, oldest first (every topic when empty).
    std::vector<Message> On(const QString& Topic = {}) const;
    // The last payload on Topic; empty when none.
    QByteArray Last(const QString& Topic) const;
    void Publish(const QString& Topic, const QByteArray& Payload, bool Retain = false);

private:
    mosquitto* FMosq = nullptr;
    QString FSubscription;
    mutable std::mutex FMutex;
    bool FSubscribed = false;
    std::vector<Message> FMessages;
};
