#include "reader/FrameTrace.h"

#include "reader/Packet.h"

#include <QByteArray>

#include <algorithm>

// Warnings and above only, so debug lines stay off until a rule asks for them.
Q_LOGGING_CATEGORY(DorvikFrames, "dorvik.frames", QtWarningMsg)

namespace {

QByteArray FrameHex(const TPacket& Packet)
{
    // Never past the frame's buffer, whatever its length byte says.
    const int Length = std::clamp(int(Packet.Length()), TPacket::MinLength, TPacket::BufferSize);
    return QByteArray(reinterpret_cast<const char*>(Packet.Data()), Length).toHex(' ').toUpper();
}

} // namespace

void TraceFrame(TFrameDirection Direction, const TPacket& Packet)
{
    // qCDebug evaluates its arguments only when the category is on.
    qCDebug(DorvikFrames).noquote().nospace()
        << (Direction == TFrameDirection::Sent ? "-> " : "<- ") << FrameHex(Packet);
}
