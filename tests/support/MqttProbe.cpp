#include "support/MqttProbe.h"

#include <mosquitto.h>

#include <QUuid>

#include <chrono>

MqttProbe::MqttProbe(int Port, const QString& Subscription, bool Persistent) : FSubscription(Subscription)
{
    mosquitto_lib_init(); // cleaned up once at exit, by the agent's client
    const QByteArray Id = "probe-" + QUuid::createUuid().toByteArray(QUuid::Id128);
    FMosq = mosquitto_new(Id.constData(), !Persistent, this);
    mosquitto_reconnect_delay_set(FMosq, 1, 1, false);
    mosquitto_connect_callback_set(FMosq, [](mosquitto* M, void* Self, int Rc) {
        if (Rc == 0)
            mosquitto_subscribe(M, nullptr, static_cast<MqttProbe*>(Self)->FSubscription.toUtf8().constData(), 1);
    });
    mosquitto_subscribe_callback_set(FMosq, [](mosquitto*, void* Self, int, int, const int*) {
        auto* P = static_cast<MqttProbe*>(Self);
        std::lock_guard Lock(P->FMutex);
        P->FSubscribed = true;
    });
    mosquitto_message_callback_set(FMosq, [](mosquitto*, void* Self, const mosquitto_message* M) {
        auto* P = static_cast<MqttProbe*>(Self);
        const qint64 Now = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
        std::lock_guard Lock(P->FMutex);
        P->FMessages.push_back({QString::fromUtf8(M->topic), QByteArray(static_cast<const char*>(M->payload), M->payloadlen), M->retain, Now});
    });
    mosquitto_connect(FMosq, "127.0.0.1", Port, 30);
    mosquitto_loop_start(FMosq);
}

MqttProbe::~MqttProbe()
{
    mosquitto_disconnect(FMosq);
    mosquitto_loop_stop(FMosq, false);
    mosquitto_destroy(FMosq);
}

bool MqttProbe::Subscribed() const
{
    std::lock_guard Lock(FMutex);
    return FSubscribed;
}

size_t MqttProbe::Count() const
{
    std::lock_guard Lock(FMutex);
    return FMessages.size();
}

std::vector<MqttProbe::Message> MqttProbe::On(const QString& Topic) const
{
    std::lock_guard Lock(FMutex);
    std::vector<Message> Found;
    for (const Message& M : FMessages)
        if (Topic.isEmpty() || M.Topic == Topic)
            Found.push_back(M);
    return Found;
}

QByteArray MqttProbe::Last(const QString& Topic) const
{
    const std::vector<Message> Found = On(Topic);
    return Found.empty() ? QByteArray() : Found.back().Payload;
}

void MqttProbe::Publish(const QString& Topic, const QByteArray& Payload, bool Retain)
{
    mosquitto_publish(FMosq, nullptr, Topic.toUtf8().constData(), int(Payload.size()), Payload.constData(), 1, Retain);
}
