#include "agent/SiteRules.h"

#include "access/SiteCheck.h"
#include "agent/AgentLog.h"
#include "reader/Protocol.h"

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
