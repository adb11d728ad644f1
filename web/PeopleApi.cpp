#include "web/PeopleApi.h"

#include "access/SiteEdit.h"
#include "agent/Agent.h"
#include "cards/NameText.h"
#include "log/AccessLog.h"
#include "log/LogQuery.h"
#include "log/SwipeJson.h"
#include "reader/Protocol.h"
#include "web/WebJson.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>
#include <map>

namespace {

constexpr int UnknownLookBack = 50; // a door's swipes looked through for the newest unknown card

// File with the links of its folders resolved, also when it does not exist yet.
QString RealPath(const QString& File)
{
    const QFileInfo Info(File);
    const QString Folder = QFileInfo(Info.absolutePath()).canonicalFilePath();
    return Folder.isEmpty() ? QDir::cleanPath(Info.absoluteFilePath()) : Folder + u'/' + Info.fileName();
}

QString NameOf(const TSiteCard& Card)
{
    const QString Name = NameToText(Card.Tag.Name);
    return Name.isEmpty() ? QStringLiteral("card %1").arg(Card.Tag.CardValue()) : Name;
}

QJsonObject PersonJson(const TSiteList& Site, size_t I)
{
    const TSiteCard& Card = Site.Cards[I];
    QJsonObject Doors;
    for (qsizetype D = 0; D < Site.Doors.size(); ++D)
        Doors.insert(Site.Doors[D], DoorCellText(Card.Cells[size_t(D)]));
    return {{QStringLiteral("card"), double(Card.Tag.CardValue())},
            {QStringLiteral("cardNumber"), Card.Tag.CardNumber()},
            {QStringLiteral("name"), NameToText(Card.Tag.Name)},
            {QStringLiteral("master"), int(I) == Site.Master},
            {QStringLiteral("from"), Card.From ? Card.From->Text() : QString()},
            {QStringLiteral("until"), Card.Until ? Card.Until->Text() : QString()},
            {QStringLiteral("doors"), Doors}};
}

// For the journal: card 2345678 "Dana": until 2026-12-31, front yes, office cleaners
QString PersonText(const TSiteList& Site, int I)
{
    const TSiteCard& Card = Site.Cards[size_t(I)];
    QStringList Parts;
    if (Card.From)
        Parts.append(QStringLiteral("from ") + Card.From->Text());
    if (Card.Until)
        Parts.append(QStringLiteral("until ") + Card.Until->Text());
    for (qsizetype D = 0; D < Site.Doors.size(); ++D) {
        const QString Cell = DoorCellText(Card.Cells[size_t(D)]);
        Parts.append(Site.Doors[D] + u' ' + (Cell.isEmpty() ? QStringLiteral("no") : Cell));
    }
    if (I == Site.Master)
        Parts.append(QStringLiteral("master"));
    return QStringLiteral("card %1 \"%2\"%3")
        .arg(Card.Tag.CardValue())
        .arg(NameToText(Card.Tag.Name), Parts.isEmpty() ? QString() : QStringLiteral(": ") + Parts.join(QStringLiteral(", ")));
}

int IndexOf(const TSiteList& Site, uint32_t Card)
{
    for (size_t I = 0; I < Site.Cards.size(); ++I)
        if (Site.Cards[I].Tag.CardValue() == Card)
            return int(I);
    return -1;
}

std::optional<uint32_t> CardInPath(const QString& Text)
{
    bool Ok = false;
    const qulonglong Value = Text.toULongLong(&Ok);
    const bool Digits = !Text.isEmpty() && Text.size() <= 10 && std::all_of(Text.begin(), Text.end(), [](QChar C) { return C.isDigit(); });
    return Ok && Digits && Value <= 0xFFFFFFFFull ? std::optional(uint32_t(Value)) : std::nullopt;
}

QString TextField(const QJsonValue& Value, const QString& Name)
{
    if (Value.isNull())
        return QString();
    if (!Value.isString())
        throw ESiteRefused(QStringLiteral("%1 is text").arg(Name));
    return Value.toString();
}

// The person a request's body gives, each field as the file's cell would hold it, so that the
// file's reader is what judges them. Raises ESiteRefused for a body that is not a person.
TPersonFields FieldsOf(const QJsonObject& Body, bool New)
{
    static const QStringList Known = {"card", "name", "from", "until", "doors", "master"};
    for (const QString& Key : Body.keys())
        if (!Known.contains(Key) || (Key == u"master" && !New))
            throw ESiteRefused(QStringLiteral("unknown field \"%1\": a person has card, name, from, until and doors").arg(Key.left(40)));
    TPersonFields Person;
    if (const QJsonValue Card = Body.value(u"card"); Card.isDouble()) {
        const double Value = Card.toDouble();
        if (Value < 0 || Value > 4294967295.0 || Value != double(qint64(Value)))
            throw ESiteRefused(QStringLiteral("card %1 is not a number from 0 to 4294967295").arg(Value));
        Person.Card = QString::number(qint64(Value));
    } else if (!Card.isUndefined()) {
        Person.Card = TextField(Card, QStringLiteral("card"));
    }
    if (Body.contains(u"name"))
        Person.Name = TextField(Body.value(u"name"), QStringLiteral("name")).trimmed();
    if (Body.contains(u"from"))
        Person.From = TextField(Body.value(u"from"), QStringLiteral("from")).trimmed();
    if (Body.contains(u"until"))
        Person.Until = TextField(Body.value(u"until"), QStringLiteral("until")).trimmed();
    const QJsonValue Doors = Body.value(u"doors");
    if (!Doors.isUndefined() && !Doors.isObject())
        throw ESiteRefused(QStringLiteral("doors maps each door's id to yes, no or a schedule's name"));
    const QJsonObject Cells = Doors.toObject();
    for (auto Cell = Cells.begin(); Cell != Cells.end(); ++Cell)
        Person.Doors.insert(Cell.key(), TextField(Cell.value(), QStringLiteral("door %1").arg(Cell.key().left(40))).trimmed());
    const QJsonValue Master = Body.value(u"master");
    if (!Master.isUndefined() && !Master.isBool())
        throw ESiteRefused(QStringLiteral("master is true or false"));
    Person.Master = Master.toBool();
    return Person;
}

} // namespace

TPeopleApi::TPeopleApi(TAgent& Agent, QString StateFolder, std::function<void(const TWebChange&)> Record)
    : FAgent(Agent), FStateFolder(std::move(StateFolder)), FRecord(std::move(Record))
{
}

QString TPeopleApi::EditableFile() const { return QDir(FStateFolder).filePath(QStringLiteral("site.csv")); }

bool TPeopleApi::IsEditable(const QString& File) const
{
    return !QFileInfo(File).isSymLink() && RealPath(File) == RealPath(EditableFile());
}

TAccessSetup TPeopleApi::Setup() const
{
    const TAgentConfig& Config = FAgent.Config();
    TAccessSetup Setup = AccessSetupOf(Config, {}); // the zone and schedules; the doors as this page takes them
    for (const TDoorConfig& Door : Config.Doors)
        if (!Door.SiteFile.isEmpty() && IsEditable(Door.SiteFile))
            Setup.Doors.push_back({Door.Id, Door.Name});
    return Setup;
}

QJsonObject TPeopleApi::ListJson(const QString& File, const QJsonArray& Doors) const
{
    QJsonObject List{{QStringLiteral("file"), File}, {QStringLiteral("doors"), Doors}};
    const bool Editable = !File.isEmpty() && IsEditable(File);
    List.insert(QStringLiteral("editable"), Editable);
    if (File.isEmpty()) {
        List.insert(QStringLiteral("note"), QStringLiteral("No site list: the reader keeps the cards it is given. To keep the people of "
                                                           "this door here, set site-file = %1 in its section of the agent's configuration.")
                                                .arg(EditableFile()));
    } else if (!Editable) {
        List.insert(QStringLiteral("note"), QStringLiteral("Read-only: this page edits %1 only. Change %2 itself, or set site-file = %1 "
                                                           "for these doors in the agent's configuration.")
                                                .arg(EditableFile(), File));
    }
    TSiteRead Read;
    try {
        if (!File.isEmpty() && (!Editable || QFileInfo::exists(File)))
            Read = ReadSiteFile(File);
        else
            for (const QJsonValue Door : Doors)
                Read.Site.Doors.append(Door[u"id"].toString());
    } catch (const std::exception& E) {
        List.insert(QStringLiteral("problems"), QString::fromUtf8(E.what()));
    }
    if (!Read.Problems.empty())
        List.insert(QStringLiteral("problems"), ProblemLines(File, Read.Problems).trimmed());
    QJsonArray People;
    for (size_t I = 0; I < Read.Site.Cards.size(); ++I)
        People.append(PersonJson(Read.Site, I));
    List.insert(QStringLiteral("columns"), QJsonArray::fromStringList(Read.Site.Doors));
    List.insert(QStringLiteral("people"), People);
    if (Editable)
        List.insert(QStringLiteral("unknown"), Unknown(Read.Site));
    return List;
}

QJsonArray TPeopleApi::Unknown(const TSiteList& Site) const
{
    QJsonArray Found;
    if (!FAgent.Log())
        return Found;
    for (const TDoorConfig& Door : FAgent.Config().Doors) {
        if (Door.SiteFile.isEmpty() || !IsEditable(Door.SiteFile))
            continue;
        TLogQuery Query;
        Query.Door = Door.Name;
        Query.Limit = UnknownLookBack;
        QSqlQuery Rows = SelectSwipes(FAgent.Log()->Database(), Query);
        while (Rows.next()) {
            const TSwipeRecord Swipe = SwipeAt(Rows);
            const uint32_t Card = SwipeCardValue(Swipe);
            if (Swipe.Known || IndexOf(Site, Card) >= 0)
                continue;
            Found.append(QJsonObject{{QStringLiteral("door"), Door.Id},
                                     {QStringLiteral("doorName"), Door.Name},
                                     {QStringLiteral("card"), double(Card)},
                                     {QStringLiteral("cardNumber"), Swipe.CardNumber},
                                     {QStringLiteral("time"), SwipeTimeText(Swipe)}});
            break;
        }
    }
    return Found;
}

TWebResponse TPeopleApi::List() const
{
    const TAgentConfig& Config = FAgent.Config();
    std::vector<QString> Files; // in the order of the doors that first name them
    std::map<QString, std::pair<QString, QJsonArray>> DoorsOf; // by the file's real path: the file as given, its doors
    for (const TDoorConfig& Door : Config.Doors) {
        const QString Key = Door.SiteFile.isEmpty() ? QString() : RealPath(Door.SiteFile);
        auto [Entry, New] = DoorsOf.try_emplace(Key, Door.SiteFile, QJsonArray());
        if (New)
            Files.push_back(Key);
        Entry->second.second.append(QJsonObject{{QStringLiteral("id"), Door.Id}, {QStringLiteral("name"), Door.Name}});
    }
    QJsonArray Lists;
    for (const QString& Key : Files)
        Lists.append(ListJson(DoorsOf[Key].first, DoorsOf[Key].second));
    const TAccessSetup Site = Setup();
    return JsonResponse({{QStringLiteral("file"), EditableFile()},
                         {QStringLiteral("zone"), QString::fromUtf8(Site.Zone.id())},
                         {QStringLiteral("schedules"), QJsonArray::fromStringList(Site.Schedules.keys())},
                         {QStringLiteral("lists"), Lists}});
}

TWebResponse TPeopleApi::Change(const TWebCaller& Caller, const TWebRequest& Request)
{
    // /api/people, /api/people/CARD or /api/people/CARD/lapse
    const QStringList Parts = Request.Path.mid(int(sizeof("/api/people") - 1)).split(u'/');
    const QByteArray& Method = Request.Method;
    enum { Add, Edit, Lapse, Remove, None } Action = None;
    if (Parts.size() == 1 && Parts[0].isEmpty() && Method == "POST")
        Action = Add;
    else if (Parts.size() == 2 && Parts[0].isEmpty() && (Method == "PUT" || Method == "PATCH"))
        Action = Edit;
    else if (Parts.size() == 2 && Parts[0].isEmpty() && Method == "DELETE")
        Action = Remove;
    else if (Parts.size() == 3 && Parts[0].isEmpty() && Parts[2] == u"lapse" && Method == "POST")
        Action = Lapse;
    if (Action == None)
        return ErrorResponse(404, QStringLiteral("No such call."));
    const std::optional<uint32_t> Card = Action == Add ? std::optional<uint32_t>(0) : CardInPath(Parts[1]);
    if (!Card)
        return ErrorResponse(404, QStringLiteral("No card %1 on the site list.").arg(Parts[1].left(40)));

    const TAccessSetup Site = Setup();
    if (Site.Doors.empty())
        return ErrorResponse(409, QStringLiteral("No door takes its cards from %1: set site-file = %1 for a door in the agent's "
                                                 "configuration first.").arg(EditableFile()));
    const QDateTime Now = QDateTime::currentDateTimeUtc();
    QString What, Done;
    try {
        TPersonFields Person;
        if (Action == Add || Action == Edit) {
            const std::optional<QJsonObject> Body = JsonBody(Request);
            if (!Body)
                return ErrorResponse(400, QStringLiteral("Not saved: send a JSON object with card, name, from, until and doors."));
            Person = FieldsOf(*Body, Action == Add);
        }
        const TSiteList Written = EditSiteFile(EditableFile(), Site, protocol::CardLimit, Now, [&](const TSiteList& Before, TSiteRows& Rows) {
            const int Index = IndexOf(Before, *Card);
            switch (Action) {
            case Add:
                return AddPerson(Before, Rows, Person);
            case Edit:
                return ChangePerson(Before, Rows, *Card, Person);
            case Lapse: {
                const QDateTime Local = Now.toTimeZone(Site.Zone);
                return LapsePerson(Before, Rows, *Card, {Local.date(), QTime(Local.time().hour(), Local.time().minute())});
            }
            case Remove:
                if (Index >= 0) {
                    What = QStringLiteral("removed ") + PersonText(Before, Index);
                    Done = QStringLiteral("Removed %1.").arg(NameOf(Before.Cards[size_t(Index)]));
                }
                return RemovePerson(Before, Rows, *Card);
            case None:
                break;
            }
        });
        if (Action != Remove) {
            const int Index = Action == Add ? int(Written.Cards.size()) - 1
                                            : IndexOf(Written, Person.Card ? Person.Card->trimmed().toUInt() : *Card);
            const QString Name = NameOf(Written.Cards[size_t(Index)]);
            const QString Text = PersonText(Written, Index);
            What = Action == Add ? QStringLiteral("added ") + Text : Action == Edit ? QStringLiteral("changed ") + Text
                                                                                 : QStringLiteral("lapsed now: ") + Text;
            Done = Action == Add    ? QStringLiteral("Added %1.").arg(Name)
                   : Action == Edit ? QStringLiteral("Saved %1.").arg(Name)
                                    : QStringLiteral("%1: access ended now (until %2).").arg(Name, Written.Cards[size_t(Index)].Until->Text());
        }
    } catch (const ENoSuchCard&) {
        return ErrorResponse(404, QStringLiteral("No card %1 on the site list.").arg(*Card));
    } catch (const ESiteRefused& E) {
        return ErrorResponse(400, QStringLiteral("Not saved: %1").arg(QString::fromUtf8(E.what())));
    } catch (const std::exception& E) {
        return ErrorResponse(500, QStringLiteral("Not saved: %1").arg(QString::fromUtf8(E.what())));
    }
    FRecord({Now, Caller.User, Caller.Peer.toString(), QStringLiteral("site list %1: %2").arg(EditableFile(), What)});
    return JsonResponse({{QStringLiteral("ok"), true}, {QStringLiteral("message"), Done}});
}
