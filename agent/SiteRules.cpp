#include "agent/SiteRules.h"

#include "access/SiteCheck.h"
#include "agent/AgentConfig.h"
#include "agent/AgentLog.h"
#include "reader/Protocol.h"

#include <QFileInfo>

TSiteRules::TSiteRules(const QString& File, TAccessSetup Setup, const TClock& Clock, QObject* Owner)
    : QObject(Owner), FFile(File), FClock(Clock), FSetup(std::move(Setup))
{
    FWatch = std::make_unique<TSiteFileWatch>(File, [this](const std::optional<QByteArray>& Content) {
        try {
            Take(Content);
        } catch (const std::exception& E) {
            Say(3, QString::fromUtf8(E.what()));
        }
    });
    Take(FWatch->Content());
}

TSiteRules::~TSiteRules() = default;

void TSiteRules::Say(int Priority, const QString& Text) const
{
    if (OnSay)
        return OnSay(Priority, Text);
    AgentLog(TPriority(Priority), Text);
}

void TSiteRules::SetSetup(TAccessSetup Setup)
{
    FSetup = std::move(Setup);
    Take(FContent);
}

void TSiteRules::Take(const std::optional<QByteArray>& Content)
{
    FContent = Content;
    const QString Kept = FRules ? QStringLiteral("the doors keep the list it gave before")
                                : QStringLiteral("the readers are left as they are");
    if (!Content)
        return Say(3, QStringLiteral("cannot read the site file %1: %2").arg(FFile, Kept));
    try {
        const TSiteRead Read = ReadSiteContent(FFile, *Content);
        auto Rules = std::make_unique<TAccessRules>(Read.Site, FSetup);
        const std::vector<TSiteProblem> Problems = CheckSite(Read, *Rules, protocol::CardLimit, FClock.NowUtc());
        if (!Problems.empty())
            return Say(3, QStringLiteral("the site file %1 has problems; %2:\n%3").arg(FFile, Kept, ProblemLines(FFile, Problems).trimmed()));
        FRules = std::move(Rules);
        ++FGeneration;
    } catch (const std::exception& E) {
        return Say(3, QStringLiteral("cannot load the site file %1, %2: %3").arg(FFile, Kept, QString::fromUtf8(E.what())));
    }
    if (OnChanged)
        OnChanged();
}

namespace {

QString DoorReport(const TAccessRules& Rules, const TAccessDoor& Door, const QDateTime& Now)
{
    QStringList Names;
    const TDoorList List = Rules.ListAt(Door.Id, Now);
    for (int Card : List.Cards)
        Names << Rules.CardName(Card) + (Card == Rules.Site().Master ? QStringLiteral(" (master)") : QString());
    QString Text = QStringLiteral("  [%1] now %2 cards: %3\n").arg(Door.Id).arg(List.Cards.size()).arg(Names.join(QStringLiteral(", ")));
    if (const std::optional<QDateTime> Next = Rules.NextBoundary(Door.Id, Now))
        Text += QStringLiteral("      next, %1: %2\n").arg(Rules.LocalText(*Next), Rules.ChangeParts(Door.Id, List, Rules.ListAt(Door.Id, *Next), *Next));
    return Text;
}

} // namespace

QString SiteFilesReport(const TAgentConfig& Config, const QDateTime& Now, bool& Good)
{
    Good = true;
    QStringList Files;
    for (const TDoorConfig& Door : Config.Doors)
        if (!Door.SiteFile.isEmpty() && !Files.contains(Door.SiteFile))
            Files << Door.SiteFile;
    QString Text;
    for (const QString& File : Files) {
        if (!QFileInfo::exists(File)) {
            // Not yet made (the page makes the state folder's on its first change): not a fault.
            Text += QStringLiteral("warning: the site list %1 does not exist yet: its doors' readers are left as they are until it does\n").arg(File);
            continue;
        }
        try {
            const TSiteRead Read = ReadSiteFile(File);
            const TAccessRules Rules(Read.Site, AccessSetupOf(Config, File));
            const std::vector<TSiteProblem> Problems = CheckSite(Read, Rules, protocol::CardLimit, Now);
            if (!Problems.empty()) {
                Good = false;
                Text += ProblemLines(File, Problems);
                continue;
            }
            Text += QStringLiteral("site list %1:\n").arg(File);
            for (const TAccessDoor& Door : Rules.Doors())
                Text += DoorReport(Rules, Door, Now);
        } catch (const std::exception& E) {
            Good = false;
            Text += QStringLiteral("%1: %2\n").arg(File, QString::fromUtf8(E.what()));
        }
    }
    return Text;
}
