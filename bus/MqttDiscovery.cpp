#include "bus/MqttDiscovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSysInfo>

namespace {

struct TEntity
{
    const char* Component;
    const char* Object; // after the door's id
    bool Command;       // only while commands are on
    bool OnReader;      // available only while the door's reader is online too
};

const TEntity DoorEntities[] = {
    {"event", "swipe", false, true},     {"sensor", "last_card", false, false}, {"binary_sensor", "reader", false, false},
    {"select", "door_mode", true, true}, {"number", "unlock_delay", true, true},  {"sensor", "next_change", false, false},
};

QString ConfigTopic(const TMqttSettings& S, const QString& Component, const QString& Object)
{
    return QStringLiteral("%1/%2/%3/%4/config").arg(S.DiscoveryPrefix, Component, MqttNodeId(), Object);
}

QJsonObject AgentDevice()
{
    return {{QStringLiteral("identifiers"), QJsonArray{MqttNodeId()}},
            {QStringLiteral("name"), QStringLiteral("Dorvik agent on %1").arg(QSysInfo::machineHostName())},
            {QStringLiteral("manufacturer"), QStringLiteral("Dorvik Manager")},
            {QStringLiteral("model"), QStringLiteral("dorvik-agent")}};
}

QJsonObject Base(const QString& UniqueId, const QString& Name, const QJsonObject& Device)
{
    return {{QStringLiteral("unique_id"), UniqueId}, {QStringLiteral("name"), Name}, {QStringLiteral("device"), Device}};
}

// Available while every topic says online. A door's status outlives an agent that died (only
// the agent's status is its last will), so the agent's is always among them.
QJsonObject Availability(const QStringList& Topics)
{
    QJsonArray List;
    for (const QString& Topic : Topics)
        List.append(QJsonObject{{QStringLiteral("topic"), Topic},
                                {QStringLiteral("payload_available"), QStringLiteral("online")},
                                {QStringLiteral("payload_not_available"), QStringLiteral("offline")}});
    return {{QStringLiteral("availability"), List}, {QStringLiteral("availability_mode"), QStringLiteral("all")}};
}

// Keys of the entity beside those every one has.
QJsonObject DoorEntity(const QString& Object, const QString& Topic, const QString& UniqueId)
{
    const QString Swipe = Topic + QStringLiteral("/swipe");
    const QString SetDoor = Topic + QStringLiteral("/set/door");
    if (Object == u"swipe")
        return {{QStringLiteral("name"), QStringLiteral("Swipe")},
                {QStringLiteral("state_topic"), Swipe},
                {QStringLiteral("event_types"), QJsonArray{QStringLiteral("known"), QStringLiteral("unknown")}},
                {QStringLiteral("value_template"),
                 QStringLiteral("{{ {'event_type': 'known' if value_json.known else 'unknown', 'id': value_json.id, "
                                "'card_number': value_json.cardNumber, 'name': value_json.name, "
                                "'reason': value_json.reason} | tojson }}")},
                {QStringLiteral("json_attributes_topic"), Swipe},
                {QStringLiteral("icon"), QStringLiteral("mdi:card-account-details")}};
    if (Object == u"last_card")
        return {{QStringLiteral("name"), QStringLiteral("Last card")},
                {QStringLiteral("state_topic"), Swipe},
                {QStringLiteral("value_template"), QStringLiteral("{{ value_json.name if value_json.name else value_json.cardNumber }}")},
                {QStringLiteral("json_attributes_topic"), Swipe},
                {QStringLiteral("icon"), QStringLiteral("mdi:badge-account")}};
    if (Object == u"reader")
        return {{QStringLiteral("name"), QStringLiteral("Reader")},
                {QStringLiteral("state_topic"), Topic + QStringLiteral("/status")},
                {QStringLiteral("device_class"), QStringLiteral("connectivity")},
                {QStringLiteral("payload_on"), QStringLiteral("online")},
                {QStringLiteral("payload_off"), QStringLiteral("offline")},
                {QStringLiteral("entity_category"), QStringLiteral("diagnostic")}};
    if (Object == u"next_change")
        return {{QStringLiteral("name"), QStringLiteral("Next change")},
                {QStringLiteral("state_topic"), Topic + QStringLiteral("/next")},
                {QStringLiteral("device_class"), QStringLiteral("timestamp")},
                {QStringLiteral("value_template"), QStringLiteral("{{ value_json.time if value_json.time else None }}")},
                {QStringLiteral("json_attributes_topic"), Topic + QStringLiteral("/next")},
                {QStringLiteral("icon"), QStringLiteral("mdi:calendar-clock")}};
    if (Object == u"door_mode")
        return {{QStringLiteral("name"), QStringLiteral("Door mode")},
                {QStringLiteral("state_topic"), Topic + QStringLiteral("/door")},
                // A mode byte the reader reports but no option names comes as null: unknown here.
                {QStringLiteral("value_template"), QStringLiteral("{{ value_json.mode if value_json.mode else None }}")},
                {QStringLiteral("command_topic"), SetDoor},
                {QStringLiteral("command_template"), QStringLiteral("{\"id\": \"%1\", \"mode\": \"{{ value }}\"}").arg(UniqueId)},
                {QStringLiteral("options"), QJsonArray{QStringLiteral("lock-unlock"), QStringLiteral("momentary"), QStringLiteral("timed")}},
                {QStringLiteral("entity_category"), QStringLiteral("config")}};
    return {{QStringLiteral("name"), QStringLiteral("Unlock delay")},
            {QStringLiteral("state_topic"), Topic + QStringLiteral("/door")},
            {QStringLiteral("value_template"), QStringLiteral("{{ value_json.delay if 1 <= value_json.delay <= 255 else None }}")},
            {QStringLiteral("command_topic"), SetDoor},
            {QStringLiteral("command_template"), QStringLiteral("{\"id\": \"%1\", \"delay\": {{ value | int }}}").arg(UniqueId)},
            {QStringLiteral("min"), 1},
            {QStringLiteral("max"), 255},
            {QStringLiteral("step"), 1},
            {QStringLiteral("mode"), QStringLiteral("box")},
            {QStringLiteral("unit_of_measurement"), QStringLiteral("s")},
            {QStringLiteral("entity_category"), QStringLiteral("config")}};
}

} // namespace

QString MqttNodeId()
{
    static const QRegularExpression Other(QStringLiteral("[^A-Za-z0-9_-]"));
    return QStringLiteral("dorvik_") + QSysInfo::machineHostName().replace(Other, QStringLiteral("_"));
}

std::vector<TRetainedMessage> AgentDiscovery(const TMqttSettings& S)
{
    // Its state is the agent's status itself, so that it shows off, not unavailable.
    QJsonObject Config = Base(MqttNodeId() + QStringLiteral("_agent"), QStringLiteral("Broker connection"), AgentDevice());
    Config.insert(QStringLiteral("state_topic"), S.Prefix + QStringLiteral("/agent/status"));
    Config.insert(QStringLiteral("device_class"), QStringLiteral("connectivity"));
    Config.insert(QStringLiteral("payload_on"), QStringLiteral("online"));
    Config.insert(QStringLiteral("payload_off"), QStringLiteral("offline"));
    Config.insert(QStringLiteral("entity_category"), QStringLiteral("diagnostic"));
    return {{ConfigTopic(S, QStringLiteral("binary_sensor"), QStringLiteral("agent")),
             QJsonDocument(Config).toJson(QJsonDocument::Compact)}};
}

std::vector<TRetainedMessage> DoorDiscovery(const TMqttSettings& S, const TDoorConfig& Door)
{
    const QString DeviceId = MqttNodeId() + u'_' + Door.Id;
    const QJsonObject Device{{QStringLiteral("identifiers"), QJsonArray{DeviceId}},
                             {QStringLiteral("name"), Door.Name},
                             {QStringLiteral("manufacturer"), QStringLiteral("Dorvik Manager")},
                             {QStringLiteral("model"), QStringLiteral("RFID door reader")},
                             {QStringLiteral("via_device"), MqttNodeId()}};
    std::vector<TRetainedMessage> Configs;
    for (const TEntity& E : DoorEntities) {
        const QString Object = Door.Id + u'_' + QLatin1String(E.Object);
        const QString ConfigAt = ConfigTopic(S, QLatin1String(E.Component), Object);
        if (E.Command && !S.Commands) {
            Configs.push_back({ConfigAt, {}});
            continue;
        }
        const QString Topic = S.Prefix + u'/' + Door.Id;
        const QString UniqueId = MqttNodeId() + u'_' + Object;
        const QJsonObject Keys = DoorEntity(QLatin1String(E.Object), Topic, UniqueId);
        QJsonObject Config = Base(UniqueId, Keys.value(u"name").toString(), Device);
        // The reader's own sensor shows it offline; the rest is unavailable then.
        const QString Agent = S.Prefix + QStringLiteral("/agent/status");
        const QJsonObject Available = Availability(E.OnReader ? QStringList{Agent, Topic + QStringLiteral("/status")} : QStringList{Agent});
        for (const QJsonObject& Part : {Keys, Available})
            for (auto I = Part.begin(); I != Part.end(); ++I)
                Config.insert(I.key(), I.value());
        Configs.push_back({ConfigAt, QJsonDocument(Config).toJson(QJsonDocument::Compact)});
    }
    return Configs;
}

std::vector<TRetainedMessage> DoorDiscoveryRemoval(const TMqttSettings& S, const QString& DoorId)
{
    std::vector<TRetainedMessage> Removal;
    for (const TEntity& E : DoorEntities)
        Removal.push_back({ConfigTopic(S, QLatin1String(E.Component), DoorId + u'_' + QLatin1String(E.Object)), {}});
    return Removal;
}
