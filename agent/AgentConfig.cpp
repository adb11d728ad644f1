#include "agent/AgentConfig.h"

#include "agent/WebSettings.h"
#include "common/Errors.h"
#include "common/LineFault.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>

namespace {

const QSet<QString> DoorKeys = {"name", "port", "site-file"};
const QSet<QString> LogKeys = {"path", "keep-days"};
const QSet<QString> WebKeys = {"listen", "cert-file", "key-file", "users-file"};
const QSet<QString> AgentKeys = {};
const QSet<QString> SiteKeys = {"time-zone", "trust-clock"};
const QString SchedulePrefix = QStringLiteral("schedule ");

[[noreturn]] void Bad(const QString& FileName, int Line, const QString& Why)
{
    throw Exception(QStringLiteral("%1:%2: %3").arg(FileName).arg(Line).arg(Why).toStdString());
}

// A value ends at a comment, a ';' that follows white space ("port = x ; by the stairs"); a '#'
// is part of it ("name = Gate #1"). In double quotes it is taken as it stands between them, ';'
// and spaces included; only a comment may follow.
QString Value(const QString& FileName, int Line, const QString& Given)
{
    const QString Text = Given.trimmed();
    if (!Text.startsWith(u'"')) {
        static const QRegularExpression Comment(QStringLiteral("\\s;.*$"));
        return QString(Text).remove(Comment).trimmed();
    }
    const qsizetype Close = Text.indexOf(u'"', 1);
    const QString After = Close < 0 ? QString() : Text.mid(Close + 1).trimmed();
    if (Close < 0 || !(After.isEmpty() || After.startsWith(u';')))
        Bad(FileName, Line, QStringLiteral("a value that starts with '\"' ends with '\"', and only a comment may follow it (%1)")
                                .arg(AgentConfigRule()));
    return Text.mid(1, Close - 1);
}

struct TSection
{
    QString Name;
    int Line = 0;
    QMap<QString, QString> Values;
    QMap<QString, int> Lines; // each key's
};

std::vector<TSection> Sections(const QString& FileName, const QByteArray& Text)
{
    static const QRegularExpression Id(QStringLiteral("^[A-Za-z0-9-]+$"));
    std::vector<TSection> Result;
    int Number = 0;
    for (const QByteArray& Raw : Text.split('\n')) {
        ++Number;
        const QString Line = QString::fromUtf8(Raw).trimmed();
        if (Line.isEmpty() || Line.startsWith(';') || Line.startsWith('#'))
            continue;
        if (Line.startsWith('[')) {
            if (!Line.endsWith(']'))
                Bad(FileName, Number, QStringLiteral("a section is written [name]"));
            QString Name = Line.mid(1, Line.size() - 2).trimmed();
            if (Name.startsWith(SchedulePrefix)) {
                Name = SchedulePrefix + Name.mid(SchedulePrefix.size()).trimmed();
                if (!IsScheduleName(Name.mid(SchedulePrefix.size())))
                    Bad(FileName, Number, QStringLiteral("[%1]: a schedule's name takes letters, digits, '-' and '_' only").arg(Name));
            } else if (!Id.match(Name).hasMatch())
                Bad(FileName, Number, QStringLiteral("[%1]: a door's id takes letters, digits and '-' only").arg(Name));
            for (const TSection& S : Result)
                if (S.Name == Name)
                    Bad(FileName, Number, QStringLiteral("[%1] is given twice").arg(Name));
            Result.push_back({Name, Number, {}, {}});
            continue;
        }
        const qsizetype Equals = Line.indexOf('=');
        if (Equals <= 0)
            Bad(FileName, Number, QStringLiteral("expected key = value"));
        if (Result.empty())
            Bad(FileName, Number, QStringLiteral("'%1' stands before any [section]").arg(Line.left(Equals).trimmed()));
        TSection& S = Result.back();
        const QString Key = Line.left(Equals).trimmed();
        if (S.Values.contains(Key))
            Bad(FileName, Number, QStringLiteral("[%1] %2 is given twice").arg(S.Name, Key));
        S.Values.insert(Key, Value(FileName, Number, Line.mid(Equals + 1)));
        S.Lines.insert(Key, Number);
    }
    return Result;
}

void CheckKeys(const QString& FileName, const TSection& S, const QSet<QString>& Allowed)
{
    for (auto I = S.Values.cbegin(); I != S.Values.cend(); ++I)
        if (!Allowed.contains(I.key()))
            Bad(FileName, S.Line, QStringLiteral("[%1] unknown key '%2'").arg(S.Name, I.key()));
}

// Relative paths in the file are taken from the file's own folder, wherever the agent starts.
QString Beside(const QString& FileName, const QString& Path)
{
    return Path.isEmpty() ? Path : QFileInfo(FileName).absoluteDir().absoluteFilePath(Path);
}

// [web]: checked whole here, so that --check and a reload refuse what the page would refuse.
std::optional<TWebSettings> WebSection(const QString& FileName, const TSection& S)
{
    CheckKeys(FileName, S, WebKeys);
    QMap<QString, QString> Web = S.Values;
    for (const QString Key : {"cert-file", "key-file", "users-file"})
        if (Web.contains(Key))
            Web[Key] = Beside(FileName, Web[Key]);
    try {
        return ParseWebSettings(Web);
    } catch (const std::exception& E) {
        Bad(FileName, S.Line, QString::fromUtf8(E.what()));
    }
}

} // namespace

QString AgentConfigRule()
{
    return QStringLiteral("a line that starts with ';' or '#' is a comment, and so is the rest of a line from a ';' "
                          "that follows a space; '#' inside a value is kept; put a value in double quotes to keep a ';' in it");
}

TAgentConfig ParseAgentConfig(const QString& FileName, const QByteArray& Text)
{
    TAgentConfig Config;
    for (const TSection& S : Sections(FileName, Text)) {
        if (S.Name == u"agent") {
            CheckKeys(FileName, S, AgentKeys);
        } else if (S.Name == u"log") {
            CheckKeys(FileName, S, LogKeys);
            Config.LogPath = Beside(FileName, S.Values.value(QStringLiteral("path")));
            bool Ok = true;
            if (S.Values.contains(QStringLiteral("keep-days")))
                Config.KeepDays = S.Values.value(QStringLiteral("keep-days")).toInt(&Ok);
            if (!Ok || Config.KeepDays < 0)
                Bad(FileName, S.Line, QStringLiteral("[log] keep-days takes a number of days"));
        } else if (S.Name == u"site") {
            CheckKeys(FileName, S, SiteKeys);
            Config.TimeZone = S.Values.value(QStringLiteral("time-zone")).toUtf8();
            if (!Config.TimeZone.isEmpty() && !QTimeZone(Config.TimeZone).isValid())
                Bad(FileName, S.Lines.value(QStringLiteral("time-zone")),
                    QStringLiteral("[site] time-zone: this system knows no zone '%1' (see timedatectl list-timezones)").arg(QString::fromUtf8(Config.TimeZone)));
            const QString Trust = S.Values.value(QStringLiteral("trust-clock"), QStringLiteral("no"));
            if (Trust != u"yes" && Trust != u"no")
                Bad(FileName, S.Lines.value(QStringLiteral("trust-clock")), QStringLiteral("[site] trust-clock takes yes or no"));
            Config.TrustClock = Trust == u"yes";
        } else if (S.Name.startsWith(SchedulePrefix)) {
            const QString Name = S.Name.mid(SchedulePrefix.size());
            QMap<QString, TConfigValue> Keys;
            for (auto I = S.Values.cbegin(); I != S.Values.cend(); ++I)
                Keys.insert(I.key(), {I.value(), S.Lines.value(I.key())});
            try {
                Config.Schedules.insert(Name, ParseSchedule(Name, S.Line, Keys));
            } catch (const ELineFault& E) {
                Bad(FileName, E.Line, E.Reason);
            }
        } else if (S.Name == u"mqtt") {
            // Its keys and values are the bus's to check (OnCheckConfig), not the agent's.
            QMap<QString, QString> Mqtt = S.Values;
            for (const QString Key : {"password-file", "ca-file", "cert-file", "key-file"})
                if (Mqtt.contains(Key))
                    Mqtt[Key] = Beside(FileName, Mqtt[Key]);
            Config.Mqtt = Mqtt;
            Config.MqttLine = S.Line;
        } else if (S.Name == u"web") {
            Config.Web = WebSection(FileName, S);
        } else {
            CheckKeys(FileName, S, DoorKeys);
            TDoorConfig Door{S.Name, S.Values.value(QStringLiteral("name"), S.Name), S.Values.value(QStringLiteral("port")),
                             Beside(FileName, S.Values.value(QStringLiteral("site-file")))};
            if (Door.Port.isEmpty())
                Bad(FileName, S.Line, QStringLiteral("[%1] port is missing").arg(S.Name));
            for (const TDoorConfig& Other : Config.Doors) {
                if (Other.Port == Door.Port)
                    Bad(FileName, S.Line, QStringLiteral("[%1] port %2 is already the port of [%3]").arg(S.Name, Door.Port, Other.Id));
                // The log and the bus tell doors apart by name.
                if (Other.Name == Door.Name)
                    Bad(FileName, S.Line, QStringLiteral("[%1] name '%2' is already the name of [%3] (%4)")
                                              .arg(S.Name, Door.Name, Other.Id, AgentConfigRule()));
            }
            Config.Doors.push_back(Door);
        }
    }
    return Config;
}

TAccessSetup AccessSetupOf(const TAgentConfig& Config, const QString& SiteFile)
{
    TAccessSetup Setup;
    if (!Config.TimeZone.isEmpty())
        Setup.Zone = QTimeZone(Config.TimeZone);
    Setup.Schedules = Config.Schedules;
    const QString Real = QFileInfo(SiteFile).canonicalFilePath();
    for (const TDoorConfig& Door : Config.Doors) {
        const QString Its = QFileInfo(Door.SiteFile).canonicalFilePath();
        if (!Door.SiteFile.isEmpty() && (Door.SiteFile == SiteFile || (!Real.isEmpty() && Its == Real)))
            Setup.Doors.push_back({Door.Id, Door.Name});
    }
    return Setup;
}

TAgentConfig LoadAgentConfig(const QString& FileName)
{
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot read %1: %2").arg(FileName, File.errorString()).toStdString());
    return ParseAgentConfig(FileName, File.readAll());
}
