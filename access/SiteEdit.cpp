#include "access/SiteEdit.h"

#include "access/SiteCheck.h"
#include "common/TextFiles.h"

#include <QFileInfo>

namespace {

QString Joined(const std::vector<TSiteProblem>& Problems)
{
    QStringList Lines;
    for (const TSiteProblem& Problem : Problems)
        Lines.append(Problem.Text);
    return Lines.join(u'\n');
}

int RowOf(const TSiteList& Site, uint32_t Card)
{
    for (size_t I = 0; I < Site.Cards.size(); ++I)
        if (Site.Cards[I].Tag.CardValue() == Card)
            return int(I);
    throw ENoSuchCard(Card);
}

void CheckName(const QString& Name)
{
    if (Name.size() > PersonNameLimit)
        throw ESiteRefused(QStringLiteral("a name is at most %1 characters, and this one has %2").arg(PersonNameLimit).arg(Name.size()));
    for (const QChar C : Name)
        if (C.category() == QChar::Other_Control || C.category() == QChar::Separator_Line || C.category() == QChar::Separator_Paragraph)
            throw ESiteRefused(QStringLiteral("a name is one line of text, without line breaks, tabs or other control characters"));
}

void SetFields(TSiteRows& Rows, TSiteRow& Row, const TPersonFields& Person)
{
    if (Person.Name)
        CheckName(*Person.Name);
    const std::pair<QString*, const std::optional<QString>*> Fields[] = {
        {&Row.Card, &Person.Card}, {&Row.Name, &Person.Name}, {&Row.From, &Person.From}, {&Row.Until, &Person.Until}};
    for (const auto& [Field, Given] : Fields)
        if (*Given)
            *Field = **Given;
    // In the form the reader reads; what it would not read stays as given, for it to say so.
    for (QString* Bound : {&Row.From, &Row.Until})
        if (const std::optional<TLocalMoment> Moment = LocalMomentFromText(*Bound))
            *Bound = Moment->Text();
    Rows.AddDoors(Person.Doors.keys()); // Row is not among Rows yet when it is new
    while (Row.Cells.size() < Rows.Doors.size())
        Row.Cells.append(QString());
    for (auto Cell = Person.Doors.cbegin(); Cell != Person.Doors.cend(); ++Cell) {
        const std::optional<TDoorCell> Known = DoorCellFromText(Cell.value());
        Row.Cells[Rows.Doors.indexOf(Cell.key())] = Known ? DoorCellText(*Known) : Cell.value();
    }
}

// The site's clock as a value that compares: a day and a time of day.
QDateTime Wall(QDate Day, QTime Time) { return QDateTime(Day, Time.isValid() ? Time : QTime(0, 0), Qt::UTC); }

} // namespace

ESiteRefused::ESiteRefused(const QString& Text, std::vector<TSiteProblem> Problems)
    : Exception(Text.toStdString()), Problems(std::move(Problems))
{
}

ENoSuchCard::ENoSuchCard(uint32_t Card) : Exception(Format("no card %u on the site list", Card)) {}

void AddPerson(const TSiteList& Site, TSiteRows& Rows, const TPersonFields& Person)
{
    if (Site.Cards.empty() && !Person.Master)
        throw ESiteRefused(QStringLiteral("the first card of a site list is its master card, which opens every door at all "
                                          "times: add the master card first"));
    TSiteRow Row;
    Row.Master = Person.Master ? QStringLiteral("yes") : QString();
    SetFields(Rows, Row, Person);
    Rows.Rows.push_back(std::move(Row));
}

void ChangePerson(const TSiteList& Site, TSiteRows& Rows, uint32_t Card, const TPersonFields& Person)
{
    SetFields(Rows, Rows.Rows[size_t(RowOf(Site, Card))], Person);
}

void LapsePerson(const TSiteList& Site, TSiteRows& Rows, uint32_t Card, const TLocalMoment& Now)
{
    const int Index = RowOf(Site, Card);
    const TSiteCard& Was = Site.Cards[size_t(Index)];
    const QDateTime At = Wall(Now.Date, Now.Time);
    if (Was.Until && Wall(Was.Until->HasTime() ? Was.Until->Date : Was.Until->Date.addDays(1), Was.Until->Time) <= At)
        throw ESiteRefused(QStringLiteral("this card's access has already ended (until %1)").arg(Was.Until->Text()));
    TSiteRow& Row = Rows.Rows[size_t(Index)];
    Row.Until = Now.Text();
    if (Was.From && Wall(Was.From->Date, Was.From->Time) >= At)
        Row.From.clear();
}

void RemovePerson(const TSiteList& Site, TSiteRows& Rows, uint32_t Card)
{
    const int Index = RowOf(Site, Card);
    if (Index == Site.Master)
        throw ESiteRefused(QStringLiteral("this is the master card, which every door needs: make another card the master in the "
                                          "file first"));
    Rows.Rows.erase(Rows.Rows.begin() + Index);
}

TSiteList EditSiteFile(const QString& FileName, const TAccessSetup& Setup, int CardLimit, const QDateTime& Now,
                       const std::function<void(const TSiteList& Site, TSiteRows& Rows)>& Edit)
{
    TSiteRead Before;
    if (QFileInfo::exists(FileName)) {
        Before = ReadSiteCsv(FileName, ReadUtf8File(FileName));
    } else {
        Before.Site.FileName = FileName;
        for (const TAccessDoor& Door : Setup.Doors)
            Before.Site.Doors.append(Door.Id);
    }
    if (!Before.Problems.empty())
        throw ESiteRefused(QStringLiteral("%1 has problems of its own, and an edit would drop their rows: fix the file first\n%2")
                               .arg(FileName, ProblemLines(FileName, Before.Problems).trimmed()),
                           Before.Problems);
    TSiteRows Rows = SiteRows(Before.Site);
    for (const TAccessDoor& Door : Setup.Doors)
        Rows.EveryDoor.append(Door.Id);
    Edit(Before.Site, Rows);
    const QString Text = SiteCsvText(Rows);
    const TSiteRead After = ReadSiteCsv(FileName, Text);
    const TAccessRules Rules(After.Site, Setup);
    const std::vector<TSiteProblem> Problems = CheckSite(After, Rules, CardLimit, Now);
    if (!Problems.empty())
        throw ESiteRefused(Joined(Problems), Problems);
    SaveSiteFile(FileName, Text);
    return After.Site;
}
