#pragma once

#include "access/AccessRules.h"
#include "access/SiteRows.h"

#include "common/Errors.h"

#include <QDateTime>
#include <QMap>

#include <functional>
#include <optional>
#include <vector>

// The edits the agent's page makes to a site list file, each checked as dorvik-cli access check
// checks a file before anything is written.

// A person as the page's form gives them, each field as its cell in the file would hold it, so
// that the reader of the file is the one that says what is wrong with it. A field left out
// keeps what the row holds (a new row: empty); Doors sets the cells of the doors it names.
struct TPersonFields
{
    std::optional<QString> Card{};
    std::optional<QString> Name{};
    std::optional<QString> From{};
    std::optional<QString> Until{};
    QMap<QString, QString> Doors{}; // door id: yes, no or empty, or a schedule's name
    bool Master = false;          // a new row only: the master card, which an empty list needs first
};

// An edit refused, with why: the check's problems of the list it would make, or the edit's own.
class ESiteRefused : public Exception
{
public:
    explicit ESiteRefused(const QString& Text, std::vector<TSiteProblem> Problems = {});
    std::vector<TSiteProblem> Problems;
};

// A card the list does not hold.
class ENoSuchCard : public Exception
{
public:
    explicit ENoSuchCard(uint32_t Card);
};

// The longest name the page gives a card.
constexpr int PersonNameLimit = 100;

// The edits, on the rows of Site (made by SiteRows from a list read without problems). Card
// names a row by its value; ENoSuchCard when there is none. What the check finds is left to it;
// an edit raises ESiteRefused only for what the check would not see.
//
// Adds a row at the end. A name longer than PersonNameLimit or with a line break or another
// control character is refused, and so is a first card that is not marked master (it would be
// the master by the file's rule, which opens every door at all times).
void AddPerson(const TSiteList& Site, TSiteRows& Rows, const TPersonFields& Person);
// Changes the fields Person gives in the row of Card, in place; its name as AddPerson has it.
void ChangePerson(const TSiteList& Site, TSiteRows& Rows, uint32_t Card, const TPersonFields& Person);
// Ends Card's access at Now (the site's clock, to the minute): until becomes Now, and a from
// that is not before Now is dropped (the card had not started). Refused when its until has
// already passed.
void LapsePerson(const TSiteList& Site, TSiteRows& Rows, uint32_t Card, const TLocalMoment& Now);
// Takes Card's row out. The master card is refused: every door needs it.
void RemovePerson(const TSiteList& Site, TSiteRows& Rows, uint32_t Card);

// The site list CSV file FileName (none yet: an empty list whose door columns are Setup's
// doors), its rows changed by Edit, checked at Now under Setup with CardLimit cards a door as
// dorvik-cli access check checks a file, and written whole in place of the old file through a
// temporary one (SaveSiteFile). Returns the list as written. Raises ESiteRefused when the file
// has problems of its own (an edit would drop their rows) or the edited list does not pass its
// check, without writing; Exception when the file cannot be read or written.
TSiteList EditSiteFile(const QString& FileName, const TAccessSetup& Setup, int CardLimit, const QDateTime& Now,
                       const std::function<void(const TSiteList& Site, TSiteRows& Rows)>& Edit);

// Replaces FileName by Text (UTF-8) at once or not at all, keeping its mode and group (a new
// file gets 0640: the group reads it, no one else). Raises Exception saying why it cannot.
void SaveSiteFile(const QString& FileName, const QString& Text);
