#pragma once

#include <QLoggingCategory>

class TPacket;

// Every frame on the line, one line each, for bug reports. Off unless the logging rules turn it
// on, e.g. QT_LOGGING_RULES="dorvik.frames=true".
Q_DECLARE_LOGGING_CATEGORY(DorvikFrames)

enum class TFrameDirection { Sent, Received };

// Logs the frame as "-> 42 05 06 FF 03" (sent) or "<- 42 04 06 FF" (received).
void TraceFrame(TFrameDirection Direction, const TPacket& Packet);
