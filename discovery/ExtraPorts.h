#pragma once

#include <QString>
#include <QStringList>

// Readers that no USB scan finds: virtual readers and readers on other machines.

// The entries of a ':'-separated list such as DORVIK_EXTRA_PORTS, where a network address
// (tcp://HOST:PORT, rfc2217://[::1]:PORT) or an agent's door (unix:PATH) stays one entry though it holds ':' itself.
QStringList SplitPortList(const QString& Text);

// DORVIK_EXTRA_PORTS, then the settings list readers/network, each entry once.
QStringList ExtraPorts();

bool IsNetworkPort(const QString& Port);
