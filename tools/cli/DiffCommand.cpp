#include "tools/cli/Arguments.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Console.h"
#include "tools/cli/ReaderSession.h"

#include "cards/CardDatabaseFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>
#include <set>

namespace {

const char DiffHelp[] =
    "Usage: dorvik-cli diff PORT FILE.tdb [--format table|json] [--timeout SECONDS]\n"
    "\n"
    "Reads the reader's database and compares it with FILE.tdb by card value: the\n"
    "cards only on the reader, the cards only in the file, and the master card when\n"
    "it differs. Order and names do not count.\n"
    "\n"
    "Exit status, as diff's: 0 when they hold the same, 1 when they differ, 2 when\n"
    "the comparison could not be made.\n"
    "\n"
    "  --format FORMAT    table (default) or json\n"
    "  --timeout SECONDS  give up when the reader is silent this long (default 5)\n";

// The card a master index points at; none when it points past the list.
std::optional<TRfidTag> MasterCard(const TRfidTags& Tags, uint32_t Master)
{
    if (Master < uint32_t(Tags.Count()))
        return Tags.Items(int(Master));
    return std::nullopt;
}

std::vector<TRfidTag> Missing(const TRfidTags& From, const TRfidTags& In)
{
    std::set<uint32_t> Held;
    for (int I = 0; I < In.Count(); ++I)
        Held.insert(In.Items(I).CardValue());
    std::vector<TRfidTag> Result;
    for (int I = 0; I < From.Count(); ++I)
        if (!Held.count(From.Items(I).CardValue()))
            Result.push_back(From.Items(I));
    return Result;
}

struct Difference
{
    std::vector<TRfidTag> OnlyReader;
    std::vector<TRfidTag> OnlyFile;
    std::optional<TRfidTag> ReaderMaster;
    std::optional<TRfidTag> FileMaster;
    bool MasterDiffers = false;
    bool Equal() const { return OnlyReader.empty() && OnlyFile.empty() && !MasterDiffers; }
};

QString Text(const std::optional<TRfidTag>& Card)
{
    return Card ? Card->CardNumber() : QStringLiteral("none");
}

QString Table(const Difference& D, const QString& Port, const QString& File)
{
    QString Out;
    const auto Section = [&](const QString& Title, const std::vector<TRfidTag>& Cards) {
        if (Cards.empty())
            return;
        Out += Title + QStringLiteral(":\n");
        for (const TRfidTag& Card : Cards)
            Out += QStringLiteral("  ") + Card.CardNumber() + u'\n';
    };
    Section(QStringLiteral("Only on the reader %1").arg(Port), D.OnlyReader);
    Section(QStringLiteral("Only in %1").arg(File), D.OnlyFile);
    if (D.MasterDiffers)
        Out += QStringLiteral("Master card: %1 on the reader, %2 in the file\n").arg(Text(D.ReaderMaster), Text(D.FileMaster));
    if (D.Equal())
        Out += QStringLiteral("The reader %1 holds the cards of %2.\n").arg(Port, File);
    return Out;
}

QJsonValue Json(const std::optional<TRfidTag>& Card)
{
    if (!Card)
        return QJsonValue();
    return QJsonObject{{QStringLiteral("cardNumber"), Card->CardNumber()}, {QStringLiteral("value"), qint64(Card->CardValue())}};
}

QJsonArray Json(const std::vector<TRfidTag>& Cards)
{
    QJsonArray List;
    for (const TRfidTag& Card : Cards)
        List.append(Json(std::optional<TRfidTag>(Card)));
    return List;
}

QString Json(const Difference& D, const QString& Port, const QString& File)
{
    const QJsonObject Out{
        {QStringLiteral("port"), Port},
        {QStringLiteral("file"), File},
        {QStringLiteral("equal"), D.Equal()},
        {QStringLiteral("onlyOnReader"), Json(D.OnlyReader)},
        {QStringLiteral("onlyInFile"), Json(D.OnlyFile)},
        {QStringLiteral("master"), QJsonObject{{QStringLiteral("differs"), D.MasterDiffers},
                                               {QStringLiteral("reader"), Json(D.ReaderMaster)},
                                               {QStringLiteral("file"), Json(D.FileMaster)}}},
    };
    return QString::fromUtf8(QJsonDocument(Out).toJson(QJsonDocument::Indented));
}

} // namespace

int RunDiff(const QStringList& Args)
{
    const TArguments Given(QStringLiteral("diff"), Args, {{{QStringLiteral("format")}, QStringLiteral("FORMAT")}, TimeoutOption()},
                           {QStringLiteral("PORT"), QStringLiteral("FILE")}, 2);
    if (Given.Help()) {
        Print(QString::fromUtf8(DiffHelp));
        return 0;
    }
    const bool AsJson = Given.FormatIsJson();
    const int Timeout = Given.TimeoutMs();
    const QString Port = Given.Positional(0);
    const QString FileName = Given.Positional(1);
    Difference D;
    // Trouble is status 2 here, as for diff: 1 means "they differ".
    try {
        const TLoadedCardDatabase File = LoadCardDatabaseFile(FileName);
        TReaderSession Session(Port, Timeout);
        Session.ReadDatabase();
        const TDorvik& Reader = Session.Reader();
        D.OnlyReader = Missing(Reader.Tags(), File.Tags);
        D.OnlyFile = Missing(File.Tags, Reader.Tags());
        D.ReaderMaster = MasterCard(Reader.Tags(), Reader.Master());
        D.FileMaster = MasterCard(File.Tags, File.Master);
        D.MasterDiffers = (D.ReaderMaster ? std::optional(D.ReaderMaster->CardValue()) : std::nullopt) !=
                          (D.FileMaster ? std::optional(D.FileMaster->CardValue()) : std::nullopt);
    } catch (const std::exception& E) {
        PrintError(QStringLiteral("dorvik-cli diff: %1\n").arg(QString::fromUtf8(E.what())));
        return 2;
    }
    Print(AsJson ? Json(D, Port, FileName) : Table(D, Port, FileName));
    return D.Equal() ? 0 : 1;
}
