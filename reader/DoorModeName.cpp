#include "reader/DoorModeName.h"

#include <array>

namespace {

// In the order of the door mode's ordinals.
const std::array<QString, 3> ModeNames = {QStringLiteral("lock-unlock"), QStringLiteral("momentary"),
                                          QStringLiteral("timed")};

} // namespace

QString DoorModeName(TDoorMode Mode)
{
    // The reader's byte is taken as it comes, so it may be none of the three.
    return size_t(Mode) < ModeNames.size() ? ModeNames[Mode] : QStringLiteral("unknown (%1)").arg(int(Mode));
}

std::optional<TDoorMode> DoorModeNamed(const QString& Name)
{
    for (size_t I = 0; I < ModeNames.size(); ++I)
        if (ModeNames[I] == Name)
            return TDoorMode(I);
    return std::nullopt;
}
