#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

// Runs the event loop until Condition holds or Timeout passes; returns whether it held.
bool WaitUntil(const std::function<bool()>& Condition,
               std::chrono::milliseconds Timeout = std::chrono::milliseconds(5000));

// Runs the event loop for a while, for checks that something does NOT happen.
void Pump(std::chrono::milliseconds Duration);

// Whether a server listens on 127.0.0.1:Port now.
bool ListensOnLoopback(int Port);

// Bytes from a hex text such as "42 04 02 FF".
QByteArray Hex(const char* Text);
