#include "web/WebExchange.h"

#include <cstring>

bool TWebStream::Write(const QByteArray& Bytes)
{
    if (FClosed || FEnded)
        return false;
    if (FBuffer.size() - FSent + Bytes.size() > BacklogLimit) {
        End(); // what it has still goes; then the client is let go
        return false;
    }
    FBuffer.append(Bytes);
    if (std::exchange(FWaiting, false))
        FSink.Wake();
    return true;
}

void TWebStream::End()
{
    FEnded = true;
    if (std::exchange(FWaiting, false))
        FSink.Wake();
}

qsizetype TWebStream::Take(char* Buffer, size_t Max)
{
    if (FSent == FBuffer.size() && !FEnded && !FClosed && OnDrained) {
        FBuffer.clear();
        FSent = 0;
        OnDrained();
    }
    const qsizetype Count = std::min(FBuffer.size() - FSent, qsizetype(Max));
    if (Count == 0)
        return FEnded || FClosed ? -1 : 0;
    std::memcpy(Buffer, FBuffer.constData() + FSent, size_t(Count));
    FSent += Count;
    if (FSent == FBuffer.size()) {
        FBuffer.clear();
        FSent = 0;
    }
    return Count;
}

void TWebStream::Close()
{
    if (std::exchange(FClosed, true))
        return;
    FBuffer.clear();
    FSent = 0;
    FWaiting = false;
    OnDrained = nullptr;
    if (auto Closed = std::exchange(OnClosed, nullptr))
        Closed();
}
