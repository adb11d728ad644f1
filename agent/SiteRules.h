#pragma once

#include "access/AccessRules.h"
#include "access/Clock.h"
#include "agent/SiteFileWatch.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

struct TAgentConfig;

// What --check says of the configuration's site files: each one's problems with their lines,
// or each of its doors' list at Now and next change. Good is false when any file has problems
// or cannot be read.
QString SiteFilesReport(const TAgentConfig& Config, const QDateTime& Now, bool& Good);

// One site file the agent follows, read again whenever it changes, and its rules for the doors
// that take their cards from it. A file with problems (a bad row, a schedule the configuration
// does not have, more cards than a reader holds) is said with its lines and changes nothing: the
// rules of its last good content stay, so a slip in the file never takes a card from a door.
class TSiteRules : public QObject
{
public:
    // Clock: whose now begins the year checked for readers that would be too full.
    TSiteRules(const QString& File, TAccessSetup Setup, const TClock& Clock, QObject* Owner = nullptr);
    ~TSiteRules() override;

    const QString& File() const { return FFile; }
    // The rules of the file's last good content; null while it has had none.
    const TAccessRules* Rules() const { return FRules.get(); }
    // Counts the rules made: lists of one generation are comparable, card by card index.
    int Generation() const { return FGeneration; }
    // The configuration changed (the zone, the schedules, the doors): the rules are made again.
    void SetSetup(TAccessSetup Setup);

    // The rules changed.
    std::function<void()> OnChanged;
    std::function<void(int Priority, const QString& Text)> OnSay;

private:
    void Take(const std::optional<QByteArray>& Content);
    void Say(int Priority, const QString& Text) const;

    QString FFile;
    const TClock& FClock;
    TAccessSetup FSetup;
    std::optional<QByteArray> FContent;
    std::unique_ptr<TAccessRules> FRules;
    int FGeneration = 0;
    std::unique_ptr<TSiteFileWatch> FWatch;
};
