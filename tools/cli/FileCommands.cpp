#include "tools/cli/Arguments.h"
#include "tools/cli/CardCsv.h"
#include "tools/cli/CardListing.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Console.h"
#include "common/TextFiles.h"

#include "cards/CardDatabaseFile.h"
#include "reader/DoorMode.h"

namespace {

const char ShowHelp[] =
    "Usage: dorvik-cli show FILE.tdb [--format table|csv|json]\n"
    "\n"
    "Lists the cards of a card database file: ID (from 1), card number, name and\n"
    "whether it is the master card.\n"
    "\n"
    "  --format FORMAT  table (default), csv or json\n";

const char ImportHelp[] =
    "Usage: dorvik-cli import FILE.csv -o FILE.tdb\n"
    "\n"
    "Makes a card database file from a UTF-8 CSV file (RFC 4180 quoting) whose first\n"
    "line is the header card,name,master. Each further line is one card: its value in\n"
    "decimal (0 to 4294967295), its name, and \"yes\" in the master column of at most\n"
    "one card. Without a master row the first card is the master.\n"
    "\n"
    "  -o, --output FILE.tdb  the file to write\n";

const char ExportHelp[] =
    "Usage: dorvik-cli export FILE.tdb -o FILE.csv\n"
    "\n"
    "Writes the cards of a card database file as UTF-8 CSV for a spreadsheet, with the\n"
    "header card,name,master (the form that import reads). The card value is bytes 1\n"
    "to 4 of the card; byte 0, which the reader reports but which plays no part in a\n"
    "card's identity, is not exported, and an import gives it 0.\n"
    "\n"
    "  -o, --output FILE.csv  the file to write\n";

TOptionInfo OutputOption() { return {{QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("FILE")}; }

} // namespace

int RunShow(const QStringList& Args)
{
    const TArguments Given(QStringLiteral("show"), Args, {{{QStringLiteral("format")}, QStringLiteral("FORMAT")}},
                           {QStringLiteral("FILE")}, 1);
    if (Given.Help()) {
        Print(QString::fromUtf8(ShowHelp));
        return 0;
    }
    const QString FormatName = Given.IsSet(QStringLiteral("format")) ? Given.Value(QStringLiteral("format"))
                                                                      : QStringLiteral("table");
    const std::optional<ListingFormat> Chosen = ListingFormatNamed(FormatName);
    if (!Chosen)
        throw EUsage(Format("unknown format '%s': use table, csv or json", FormatName.toUtf8().constData()));
    const TLoadedCardDatabase File = LoadCardDatabaseFile(Given.Positional(0));
    Print(CardListing(File.Tags, File.Master, *Chosen));
    return 0;
}

int RunImport(const QStringList& Args)
{
    const TArguments Given(QStringLiteral("import"), Args, {OutputOption()}, {QStringLiteral("FILE")}, 1);
    if (Given.Help()) {
        Print(QString::fromUtf8(ImportHelp));
        return 0;
    }
    const QString Output = Given.Required(QStringLiteral("output"));
    const QString Input = Given.Positional(0);
    const QString Text = ReadUtf8File(Input);
    TLoadedCardDatabase Cards;
    try {
        Cards = CardsFromCsv(Text);
    } catch (const Exception& E) {
        throw Exception(Input.toStdString() + ": " + E.what());
    }
    // A new file gets the door settings of a reader that was never asked.
    SaveCardDatabaseFile(Output, Cards.Tags, {Cards.Master, dmLockUnlock, 5});
    Print(QStringLiteral("Imported %1 cards into %2.\n").arg(Cards.Tags.Count()).arg(Output));
    return 0;
}

int RunExport(const QStringList& Args)
{
    const TArguments Given(QStringLiteral("export"), Args, {OutputOption()}, {QStringLiteral("FILE")}, 1);
    if (Given.Help()) {
        Print(QString::fromUtf8(ExportHelp));
        return 0;
    }
    const QString Output = Given.Required(QStringLiteral("output"));
    const TLoadedCardDatabase File = LoadCardDatabaseFile(Given.Positional(0));
    SaveUtf8File(Output, CardsToCsv(File.Tags, File.Master));
    Print(QStringLiteral("Exported %1 cards into %2.\n").arg(File.Tags.Count()).arg(Output));
    return 0;
}
