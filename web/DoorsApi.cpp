#include "web/DoorsApi.h"

#include "agent/Agent.h"
#include "agent/Door.h"
#include "agent/TimeKeeper.h"
#include "reader/DoorModeName.h"
#include "reader/Protocol.h"
#include "web/WebJson.h"

#include <QDateTime>
#include <QJsonArray>

TDoorsApi::TDoorsApi(TAgent& Agent, std::function<void(const TWebChange&)> Record) : FAgent(Agent), FRecord(std::move(Record))
{
    for (TDoor* Door : Agent.Doors())
        Follow(*Door);
    QObject::connect(&Agent.Time(), &TTimeKeeper::NextChanged, &FConnections, [this] {
        for (TDoor* Door : FAgent.Doors())
            Changed(*Door);
    });
}

void TDoorsApi::Follow(TDoor& Door)
{
    FFollowed[Door.Config().Id] = {};
    TDoor* D = &Door; // the connections go with it
    QObject::connect(D, &TDoor::StatusChanged, &FConnections, [this, D] {
        TFollowed& Known = FFollowed[D->Config().Id];
        if (!D->Online())
            Known.SettingsKnown = Known.CardsKnown = false;
        Changed(*D);
    });
    QObject::connect(D, &TDoor::DoorSettingsRead, &FConnections, [this, D] {
        FFollowed[D->Config().Id].SettingsKnown = true;
        Changed(*D);
    });
    QObject::connect(D, &TDoor::CardsChanged, &FConnections, [this, D] {
        FFollowed[D->Config().Id].CardsKnown = true;
        Changed(*D);
    });
}

void TDoorsApi::Removed(const QString& Id)
{
    FFollowed.erase(Id);
    if (OnDoor)
        OnDoor({{QStringLiteral("id"), Id}, {QStringLiteral("removed"), true}});
}

void TDoorsApi::Changed(TDoor& Door)
{
    if (OnDoor)
        OnDoor(DoorJson(Door));
}

TDoor* TDoorsApi::DoorById(const QString& Id) const
{
    for (TDoor* Door : FAgent.Doors())
        if (Door->Config().Id == Id)
            return Door;
    return nullptr;
}

namespace {

// The time and content of the door's next change by its time rules; null when none comes.
QJsonValue NextJson(const std::optional<TNextChange>& Next)
{
    if (!Next)
        return QJsonValue();
    return QJsonObject{{QStringLiteral("time"), Next->At.toUTC().toString(Qt::ISODateWithMs)},
                       {QStringLiteral("text"), Next->Text},
                       {QStringLiteral("added"), QJsonArray::fromStringList(Next->Added)},
                       {QStringLiteral("removed"), QJsonArray::fromStringList(Next->Removed)}};
}

} // namespace

QJsonObject TDoorsApi::DoorJson(TDoor& Door) const
{
    const auto Found = FFollowed.find(Door.Config().Id);
    const bool SettingsKnown = Found != FFollowed.end() && Found->second.SettingsKnown;
    const bool CardsKnown = Found != FFollowed.end() && Found->second.CardsKnown;
    const TDorvik& Reader = Door.Reader();
    return {
        {QStringLiteral("id"), Door.Config().Id},
        {QStringLiteral("name"), Door.Config().Name},
        {QStringLiteral("online"), Door.Online()},
        {QStringLiteral("mode"), SettingsKnown ? QJsonValue(DoorModeName(Reader.DoorMode())) : QJsonValue()},
        {QStringLiteral("delay"), SettingsKnown ? QJsonValue(int(Reader.DoorDelay())) : QJsonValue()},
        {QStringLiteral("cards"), CardsKnown ? QJsonValue(Door.Reader().Tags().Count()) : QJsonValue()},
        {QStringLiteral("next"), NextJson(FAgent.Time().Next(Door.Config().Id))},
    };
}

QJsonObject TDoorsApi::List() const
{
    QJsonArray Doors;
    for (TDoor* Door : FAgent.Doors())
        Doors.append(DoorJson(*Door));
    QJsonArray Modes;
    for (TDoorMode Mode : {dmLockUnlock, dmMomentary, dmUnlockTimed})
        Modes.append(DoorModeName(Mode));
    return {{QStringLiteral("doors"), Doors},
            {QStringLiteral("modes"), Modes},
            {QStringLiteral("delay"), QJsonObject{{QStringLiteral("min"), protocol::MinDoorDelay}, {QStringLiteral("max"), protocol::MaxDoorDelay}}}};
}

void TDoorsApi::Change(const TWebCaller& Caller, const QString& Id, const TWebRequest& Request, TWebReply Reply)
{
    TDoor* Door = DoorById(Id);
    if (!Door)
        return Reply.Send(ErrorResponse(404, QStringLiteral("No door %1.").arg(Id)));
    const std::optional<QJsonObject> Body = JsonBody(Request);
    if (!Body)
        return Reply.Send(ErrorResponse(400, QStringLiteral("Send a JSON object with mode and delay.")));
    std::optional<TDoorMode> Mode = Door->Reader().DoorMode();
    if (Body->contains(u"mode"))
        Mode = DoorModeNamed(Body->value(u"mode").toString());
    if (!Mode)
        return Reply.Send(ErrorResponse(400, QStringLiteral("Unknown mode: use lock-unlock, momentary or timed.")));
    const QJsonValue GivenDelay = Body->value(u"delay");
    const double Delay = GivenDelay.isUndefined() ? double(Door->Reader().DoorDelay()) : GivenDelay.toDouble(-1);
    if (!(GivenDelay.isUndefined() || GivenDelay.isDouble()) || Delay != double(int(Delay)) || Delay < protocol::MinDoorDelay ||
        Delay > protocol::MaxDoorDelay)
        return Reply.Send(ErrorResponse(400, QStringLiteral("The delay is a whole number of seconds from %1 to %2.")
                                                 .arg(protocol::MinDoorDelay).arg(protocol::MaxDoorDelay)));
    if (const QString Refusal = Door->CommandRefusal(); !Refusal.isEmpty())
        return Reply.Send(ErrorResponse(409, Refusal));
    const QString What = QStringLiteral("door %1: mode %2, delay %3 s").arg(Id, DoorModeName(*Mode)).arg(int(Delay));
    const std::weak_ptr<bool> Alive = FAlive;
    Door->WriteDoorSettings(*Mode, uint8_t(Delay), [this, Alive, Caller, Id, What, Reply](bool Ok, const QString& Message) {
        if (Alive.expired())
            return;
        FRecord({QDateTime::currentDateTimeUtc(), Caller.User, Caller.Peer.toString(), Ok ? What : What + QStringLiteral(": failed, ") + Message});
        TDoor* Written = DoorById(Id);
        Reply.Send(JsonResponse({{QStringLiteral("ok"), Ok},
                                 {QStringLiteral("message"), Message},
                                 {QStringLiteral("door"), Written ? QJsonValue(DoorJson(*Written)) : QJsonValue()}},
                                Ok ? 200 : 502));
    });
}
