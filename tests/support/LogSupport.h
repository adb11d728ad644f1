#pragma once

#include "support/QtPrinters.h"

#include "log/AccessLog.h"

#include <QDateTime>
#include <QString>

#include <unistd.h>

#include <cstdlib>
#include <vector>

// A swipe of card Value at Door, At a moment; named, and so known, when Name is not empty.
inline TSwipeRecord TestSwipe(const QDateTime& At, const QString& Door, uint32_t Value, const QString& Name = {})
{
    TRfidTag Card;
    Card.Bytes = {0x01, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)};
    TSwipeRecord Swipe = MakeSwipeRecord(Card, Door, nullptr);
    Swipe.Time = At.toUTC();
    Swipe.Name = Name;
    Swipe.Known = !Name.isEmpty();
    return Swipe;
}

inline std::vector<qint64> SwipeIds(const std::vector<TSwipeRecord>& Swipes)
{
    std::vector<qint64> Ids;
    for (const TSwipeRecord& Swipe : Swipes)
        Ids.push_back(Swipe.Id);
    return Ids;
}

// Root writes where file modes say no: while this lives, the process acts as nobody on files
// (Folder given to nobody first), so a read-only file or folder is read-only to the log too.
class TActAsNobody
{
public:
    explicit TActAsNobody(const QString& Folder)
    {
        if (geteuid() != 0)
            return;
        FWasRoot = chown(Folder.toLocal8Bit().constData(), Nobody, Nobody) == 0 && setegid(Nobody) == 0 &&
                   seteuid(Nobody) == 0;
    }
    ~TActAsNobody()
    {
        // Going on as nobody would make every later test wrong.
        if (FWasRoot && (seteuid(0) != 0 || setegid(0) != 0))
            std::abort();
    }
    TActAsNobody(const TActAsNobody&) = delete;
    TActAsNobody& operator=(const TActAsNobody&) = delete;

private:
    static constexpr uid_t Nobody = 65534;
    bool FWasRoot = false;
};
