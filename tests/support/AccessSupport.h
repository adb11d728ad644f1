#pragma once

#include "access/AccessRules.h"
#include "access/SiteList.h"
#include "agent/AgentConfig.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <ostream>

// Rules from a site list's CSV text and an agent configuration's text, both read as the agent
// reads them. The doors are the configuration's, or else the list's door columns; the zone is UTC
// unless [site] names one.
struct TAccessBed
{
    TSiteRead Read;
    std::unique_ptr<TAccessRules> Rules;
};

inline TAccessSetup MakeSetup(const QString& Config)
{
    const TAgentConfig Agent = ParseAgentConfig(QStringLiteral("agent.conf"), Config.toUtf8());
    TAccessSetup Setup;
    Setup.Zone = QTimeZone(Agent.TimeZone.isEmpty() ? QByteArray("UTC") : Agent.TimeZone);
    Setup.Schedules = Agent.Schedules;
    for (const TDoorConfig& Door : Agent.Doors)
        Setup.Doors.push_back({Door.Id, Door.Name});
    return Setup;
}

inline TAccessBed MakeAccess(const QString& SiteCsv, const QString& Config = {})
{
    const TAccessSetup Setup = MakeSetup(Config);
    TAccessBed Bed{ReadSiteCsv(QStringLiteral("site.csv"), SiteCsv), nullptr};
    Bed.Rules = std::make_unique<TAccessRules>(Bed.Read.Site, Setup);
    return Bed;
}

// An instant written in ISO 8601 with its zone ("2026-03-29T01:00:00Z").
inline QDateTime Instant(const char* Iso) { return QDateTime::fromString(QString::fromLatin1(Iso), Qt::ISODate).toUTC(); }

inline void PrintTo(const TDoorList& List, std::ostream* Out)
{
    for (const int Card : List.Cards)
        *Out << Card << ' ';
}

inline QString IsoUtc(const std::optional<QDateTime>& At) { return At ? At->toUTC().toString(Qt::ISODate) : QString(); }
