#include "tools/cli/Arguments.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Console.h"
#include "tools/cli/ReaderSession.h"

#include "reader/DoorModeName.h"
#include "reader/Protocol.h"

#include <optional>

namespace {

const char DoorHelp[] =
    "Usage: dorvik-cli door PORT [--mode MODE] [--delay SECONDS] [--timeout SECONDS]\n"
    "\n"
    "Without --mode and --delay, shows the reader's door settings. With either, sets\n"
    "them; the one not given keeps the reader's current value.\n"
    "\n"
    "  --mode MODE        lock-unlock, momentary or timed\n"
    "  --delay SECONDS    unlock time of the timed mode, %1 to %2\n"
    "  --timeout SECONDS  give up when the reader is silent this long (default 5)\n";

TDoorMode ModeNamed(const QString& Name)
{
    if (const std::optional<TDoorMode> Mode = DoorModeNamed(Name))
        return *Mode;
    throw EUsage(Format("unknown door mode '%s': use lock-unlock, momentary or timed", Name.toUtf8().constData()));
}

uint8_t DelayFrom(const QString& Text)
{
    bool Ok = false;
    const int Delay = Text.trimmed().toInt(&Ok);
    if (!Ok || Delay < protocol::MinDoorDelay || Delay > protocol::MaxDoorDelay)
        throw EUsage("Invalid unlock delay");
    return uint8_t(Delay);
}

void PrintSettings(const TDorvik& Reader)
{
    Print(QStringLiteral("Mode: %1\nDelay: %2\n").arg(DoorModeName(Reader.DoorMode())).arg(Reader.DoorDelay()));
}

} // namespace

int RunDoor(const QStringList& Args)
{
    const TArguments Given(QStringLiteral("door"), Args,
                           {{{QStringLiteral("mode")}, QStringLiteral("MODE")},
                            {{QStringLiteral("delay")}, QStringLiteral("SECONDS")},
                            TimeoutOption()},
                           {QStringLiteral("PORT")}, 1);
    if (Given.Help()) {
        Print(QString::fromUtf8(DoorHelp).arg(protocol::MinDoorDelay).arg(protocol::MaxDoorDelay));
        return 0;
    }
    std::optional<TDoorMode> Mode;
    std::optional<uint8_t> Delay;
    if (Given.IsSet(QStringLiteral("mode")))
        Mode = ModeNamed(Given.Value(QStringLiteral("mode")));
    if (Given.IsSet(QStringLiteral("delay")))
        Delay = DelayFrom(Given.Value(QStringLiteral("delay")));
    const int Timeout = Given.TimeoutMs();

    TReaderSession Session(Given.Positional(0), Timeout);
    TDorvik& Reader = Session.Reader();
    Session.ReadDoorConfig();
    if (Mode || Delay) {
        const TDoorMode NewMode = Mode.value_or(Reader.DoorMode());
        const uint8_t NewDelay = Delay.value_or(uint8_t(Reader.DoorDelay()));
        Session.WriteDoorConfig(NewMode, NewDelay);
        // The reader does not acknowledge the settings: asking again is the only proof.
        Session.ReadDoorConfig();
        if (Reader.DoorMode() != NewMode || Reader.DoorDelay() != NewDelay)
            throw Exception("The reader did not take the door settings");
    }
    PrintSettings(Reader);
    return 0;
}
