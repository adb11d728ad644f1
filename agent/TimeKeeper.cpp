#include "agent/TimeKeeper.h"

#include "agent/AgentLog.h"
#include "agent/Door.h"
#include "agent/SiteRules.h"

#include <algorithm>
#include <set>

namespace {

// While the clock is not trusted, whether it has become so is asked this often (and at once when
// it is set); never otherwise.
constexpr int SyncCheckMs = 30000;

QStringList NamesOf(const TAccessRules& Rules, const std::vector<int>& Cards)
{
    QStringList Names;
    for (int Card : Cards)
        Names << Rules.CardName(Card);
    return Names;
}

// A list with no dates and no schedules is the same at every moment: a wrong clock changes nothing.
bool Timeless(const TAccessRules& Rules)
{
    for (const TSiteCard& Card : Rules.Site().Cards) {
        if (Card.From || Card.Until)
            return false;
        for (const TDoorCell& Cell : Card.Cells)
            if (Cell.Kind == TDoorCell::Scheduled)
                return false;
    }
    return true;
}

std::vector<int> Without(const std::vector<int>& From, const std::vector<int>& Taken)
{
    std::vector<int> Left;
    for (int Card : From)
        if (std::find(Taken.begin(), Taken.end(), Card) == Taken.end())
            Left.push_back(Card);
    return Left;
}

} // namespace

TTimeKeeper::TTimeKeeper(TClock& Clock, std::function<std::vector<TDoor*>()> Doors, QObject* Owner)
    : QObject(Owner), FClock(Clock), FDoors(std::move(Doors)), FAlarm(Clock)
{
    FAlarm.OnDue = [this](bool ClockSet) {
        try {
            Due(ClockSet);
        } catch (const std::exception& E) {
            Say(3, QString::fromUtf8(E.what()));
        }
    };
    FSyncCheck.setInterval(SyncCheckMs);
    connect(&FSyncCheck, &QTimer::timeout, this, [this] {
        try {
            GiveAll();
        } catch (const std::exception& E) {
            Say(3, QString::fromUtf8(E.what()));
        }
    });
}

TTimeKeeper::~TTimeKeeper() = default;

void TTimeKeeper::Say(int Priority, const QString& Text) const
{
    if (OnSay)
        return OnSay(Priority, Text);
    AgentLog(TPriority(Priority), Text);
}

void TTimeKeeper::Apply(const TAgentConfig& Config)
{
    FConfig = Config;
    std::set<QString> Files;
    for (const TDoorConfig& Door : Config.Doors)
        if (!Door.SiteFile.isEmpty())
            Files.insert(Door.SiteFile);
    for (auto I = FSites.begin(); I != FSites.end();)
        I = Files.count(I->first) ? std::next(I) : FSites.erase(I);
    for (const QString& File : Files) {
        if (auto Known = FSites.find(File); Known != FSites.end()) {
            Known->second->SetSetup(AccessSetupOf(Config, File));
            continue;
        }
        auto Site = std::make_unique<TSiteRules>(File, AccessSetupOf(Config, File), FClock);
        Site->OnSay = [this](int Priority, const QString& Text) { Say(Priority, Text); };
        Site->OnChanged = [this] { GiveAll(); };
        FSites[File] = std::move(Site);
    }
    GiveAll();
}

const TSiteRules* TTimeKeeper::SiteOf(const QString& DoorId) const
{
    for (const TDoorConfig& Door : FConfig.Doors)
        if (Door.Id == DoorId && !Door.SiteFile.isEmpty())
            if (const auto Site = FSites.find(Door.SiteFile); Site != FSites.end())
                return Site->second.get();
    return nullptr;
}

const TAccessRules* TTimeKeeper::RulesOf(const QString& DoorId) const
{
    const TSiteRules* Site = SiteOf(DoorId);
    return Site ? Site->Rules() : nullptr;
}

bool TTimeKeeper::ClockTrusted()
{
    if (FConfig.TrustClock || FClock.Sync() != TClockSync::Unsynchronized) {
        FSyncCheck.stop();
        if (std::exchange(FHoldSaid, false))
            Say(5, QStringLiteral("the system's clock is synchronized: each door gets the list its rules admit now"));
        return true;
    }
    if (!std::exchange(FHoldSaid, true))
        Say(4, QStringLiteral("the system's clock is not synchronized: the doors keep the lists their readers "
                                                    "hold until it is ([site] trust-clock = yes trusts it anyway)"));
    if (!FSyncCheck.isActive())
        FSyncCheck.start();
    return false;
}

void TTimeKeeper::Due(bool ClockSet)
{
    if (ClockSet)
        Say(5, QStringLiteral("the wall clock was set: each door's list is worked out again"));
    GiveAll();
}

void TTimeKeeper::GiveAll()
{
    for (TDoor* Door : FDoors()) {
        Name(*Door);
        GiveTo(*Door);
    }
    Arm();
    emit NextChanged();
}

void TTimeKeeper::Give(TDoor& Door)
{
    FGiven.erase(Door.Config().Id);
    Name(Door);
    GiveTo(Door);
}

// The site list's cards name the door's swipes, whenever the card is admitted.
void TTimeKeeper::Name(TDoor& Door) const
{
    const TAccessRules* Rules = RulesOf(Door.Config().Id);
    if (!Rules)
        return;
    TRfidTags Everyone;
    for (const TSiteCard& Card : Rules->Site().Cards)
        Everyone.Add() = Card.Tag;
    Door.SetSite(Everyone);
}

void TTimeKeeper::GiveTo(TDoor& Door)
{
    const QString Id = Door.Config().Id;
    const TSiteRules* Site = SiteOf(Id);
    const TAccessRules* Rules = Site ? Site->Rules() : nullptr;
    if (!Rules || Door.Stopping() || (!Timeless(*Rules) && !ClockTrusted()))
        return;
    const QDateTime Now = FClock.NowUtc();
    const TDoorList List = Rules->ListAt(Id, Now);
    TGiven& Given = FGiven[Id];
    const bool SameRules = Given.Site == Site && Given.Generation == Site->Generation();
    if (SameRules && Given.List == List)
        return;
    if (SameRules)
        Say(5, Rules->ChangeText(Id, Given.List, List, Now));
    Given = {Site, Site->Generation(), List};
    const TLoadedCardDatabase Reader = Rules->ReaderList(List);
    Door.SetWanted(Reader.Tags, Reader.Master, QStringLiteral("the list of %1").arg(Site->File()));
}

void TTimeKeeper::Arm()
{
    std::vector<const TAccessRules*> Rules;
    for (const auto& [File, Site] : FSites)
        if (Site->Rules())
            Rules.push_back(Site->Rules());
    FAlarm.Arm(Rules);
}

QString TTimeKeeper::Why(const QString& DoorId, const TRfidTag& Card, bool Held) const
{
    const TAccessRules* Rules = RulesOf(DoorId);
    if (!Rules)
        return {};
    const QString Refusal = Rules->Refusal(DoorId, Card.CardValue(), FClock.NowUtc());
    if (Held)
        return Refusal.isEmpty() ? QString() : QStringLiteral("held by the reader, but %1").arg(Refusal);
    return Refusal.isEmpty() ? QStringLiteral("admitted now, but not yet on the reader (its list is to be written)") : Refusal;
}

std::optional<TNextChange> TTimeKeeper::Next(const QString& DoorId) const
{
    const TAccessRules* Rules = RulesOf(DoorId);
    if (!Rules)
        return std::nullopt;
    const QDateTime Now = FClock.NowUtc();
    const std::optional<QDateTime> At = Rules->NextBoundary(DoorId, Now);
    if (!At)
        return std::nullopt;
    const TDoorList Before = Rules->ListAt(DoorId, Now);
    const TDoorList After = Rules->ListAt(DoorId, *At);
    return TNextChange{*At, NamesOf(*Rules, Without(After.Cards, Before.Cards)), NamesOf(*Rules, Without(Before.Cards, After.Cards)),
                       Rules->LocalText(*At) + QStringLiteral(": ") + Rules->ChangeParts(DoorId, Before, After, *At)};
}
