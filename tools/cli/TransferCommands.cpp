#include "tools/cli/Arguments.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Console.h"
#include "tools/cli/ReaderSession.h"
#include "reader/Verify.h"

#include "cards/CardDatabaseFile.h"
#include "reader/Protocol.h"

#include <optional>
#include <vector>

namespace {

const char ReadHelp[] =
    "Usage: dorvik-cli read PORT -o FILE.tdb [-n NAMES.tdb] [--timeout SECONDS]\n"
    "\n"
    "Reads the reader's card database, master card and door settings into FILE.tdb.\n"
    "The file is replaced only when the whole database has arrived.\n"
    "\n"
    "  -o, --output FILE.tdb  the file to write\n"
    "  -n, --names NAMES.tdb  give the cards the names they have in NAMES.tdb (the\n"
    "                         reader keeps no names; cards are matched by value)\n"
    "  --timeout SECONDS      give up when the reader is silent this long (default 5)\n";

const char WriteHelp[] =
    "Usage: dorvik-cli write PORT FILE.tdb [--verify] [--timeout SECONDS]\n"
    "\n"
    "Writes the cards of FILE.tdb and its master card to the reader, replacing the\n"
    "reader's database. The reader takes at most %1 cards.\n"
    "\n"
    "  --verify           read the database back and compare cards, order and master\n"
    "  --timeout SECONDS  give up when the reader is silent this long (default 5)\n";

} // namespace

int RunRead(const QStringList& Args)
{
    const TArguments Given(QStringLiteral("read"), Args,
                           {{{QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("FILE")},
                           {{QStringLiteral("n"), QStringLiteral("names")}, QStringLiteral("FILE")},
                           TimeoutOption()},
                           {QStringLiteral("PORT")}, 1);
    if (Given.Help()) {
        Print(QString::fromUtf8(ReadHelp));
        return 0;
    }
    const QString Output = Given.Required(QStringLiteral("output"));
    const QString Port = Given.Positional(0);
    const int Timeout = Given.TimeoutMs();
    // A bad names file is refused before the port is touched.
    std::optional<TLoadedCardDatabase> Names;
    if (Given.IsSet(QStringLiteral("names")))
        Names = LoadCardDatabaseFile(Given.Value(QStringLiteral("names")));

    TReaderSession Session(Port, Timeout);
    TDorvik& Reader = Session.Reader();
    // A read keeps the names of the cards already listed.
    if (Names)
        Reader.Tags().TakeRecordsFrom(Names->Tags);
    // The file keeps the door settings too, as the reader reports them.
    Session.ReadDoorConfig();
    Session.ReadDatabase();
    Reader.SaveToFile(Output);
    Print(QStringLiteral("Read %1 cards from %2 into %3.\n").arg(Reader.Tags().Count()).arg(Port, Output));
    return 0;
}

int RunWrite(const QStringList& Args)
{
    const TArguments Given(QStringLiteral("write"), Args, {{{QStringLiteral("verify")}, {}}, TimeoutOption()},
                           {QStringLiteral("PORT"), QStringLiteral("FILE")}, 2);
    if (Given.Help()) {
        Print(QString::fromUtf8(WriteHelp).arg(protocol::CardLimit));
        return 0;
    }
    const QString Port = Given.Positional(0);
    // The file is checked before the port is touched.
    TLoadedCardDatabase File = LoadCardDatabaseFile(Given.Positional(1));
    CheckFits(File.Tags);
    const int Timeout = Given.TimeoutMs();

    TReaderSession Session(Port, Timeout);
    TDorvik& Reader = Session.Reader();
    Reader.Tags().TakeRecordsFrom(File.Tags);
    Reader.SetMaster(File.Master);
    const CardValues Written = ValuesOf(Reader.Tags());
    const uint8_t WrittenMaster = uint8_t(Reader.Master() & 0xFF);
    Session.WriteDatabase();
    if (Given.IsSet(QStringLiteral("verify"))) {
        Session.ReadDatabase();
        Verify(Written, WrittenMaster, Reader);
        Print(QStringLiteral("Wrote and verified %1 cards on %2.\n").arg(Written.size()).arg(Port));
    } else {
        Print(QStringLiteral("Wrote %1 cards to %2.\n").arg(Written.size()).arg(Port));
    }
    return 0;
}
