#pragma once

#include "agent/AgentConfig.h"
#include "bus/MqttSettings.h"

#include <QByteArray>
#include <QString>

#include <vector>

// Home Assistant's MQTT discovery: one retained config per entity under
// DISCOVERY_PREFIX/<component>/<node id>/<object id>/config. Every door is a device of its own,
// reached through the agent's device; a door's entities are available while PREFIX/agent/status
// says online, those that need its reader while PREFIX/DOOR/status says so too. The agent's
// connectivity sensor shows PREFIX/agent/status itself.

struct TRetainedMessage
{
    QString Topic;
    QByteArray Payload; // empty: the config is removed
};

// "dorvik_<host name>" with anything but letters, digits, '_' and '-' as '_': the node id and the
// agent device's identifier.
QString MqttNodeId();

// The agent's own device: its connection to the broker.
std::vector<TRetainedMessage> AgentDiscovery(const TMqttSettings& Settings);
// The door's event, last-card sensor and reader connectivity; its mode select and delay number
// when commands are on, removed when they are off.
std::vector<TRetainedMessage> DoorDiscovery(const TMqttSettings& Settings, const TDoorConfig& Door);
// Every config of the door, emptied: the door is gone.
std::vector<TRetainedMessage> DoorDiscoveryRemoval(const TMqttSettings& Settings, const QString& DoorId);
