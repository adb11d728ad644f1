#include "agent/AgentLog.h"

#include <cstdio>

void AgentLog(TPriority Priority, const QString& Text)
{
    // One write per line, so lines of several doors never interleave.
    const QByteArray Line = QStringLiteral("<%1>%2\n").arg(int(Priority)).arg(Text).toLocal8Bit();
    std::fwrite(Line.constData(), 1, size_t(Line.size()), stderr);
    std::fflush(stderr);
}
