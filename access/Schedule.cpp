#include "access/Schedule.h"

#include "common/LineFault.h"

#include <QRegularExpression>

namespace {

const QStringList DayNames = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

[[noreturn]] void Fail(const QString& Name, int Line, const QString& Key, const QString& Why)
{
    throw ELineFault(Line, QStringLiteral("[schedule %1] %2: %3").arg(Name, Key, Why));
}

// The days a key names, Monday as 0; empty when it names none.
std::vector<int> DaysOf(const QString& Key)
{
    const QStringList Ends = Key.split(u'-');
    if (Ends.size() > 2)
        return {};
    const int First = DayNames.indexOf(Ends.front().trimmed().toLower());
    const int Last = DayNames.indexOf(Ends.back().trimmed().toLower());
    if (First < 0 || Last < 0)
        return {};
    std::vector<int> Days{First};
    for (int Day = First; Day != Last;) {
        Day = (Day + 1) % 7;
        Days.push_back(Day);
    }
    return Days;
}

// Minutes from the start of the day of "HH:MM"; 24:00 only when End.
int MinuteOf(const QString& Hours, const QString& Minutes, bool End)
{
    const int H = Hours.toInt();
    const int M = Minutes.toInt();
    if (M > 59 || H > 24 || (H == 24 && (M != 0 || !End)))
        return -1;
    return H * 60 + M;
}

std::vector<TPeriod> PeriodsOf(const QString& Name, const QString& Key, const TConfigValue& Value)
{
    static const QRegularExpression Form(QStringLiteral("^(\\d{1,2}):(\\d{2})\\s*-\\s*(\\d{1,2}):(\\d{2})$"));
    std::vector<TPeriod> Periods;
    for (const QString& Part : Value.Value.split(u',')) {
        const QString Text = Part.trimmed();
        const QRegularExpressionMatch Match = Form.match(Text);
        const QString Why = QStringLiteral("'%1' is not a period such as 08:00-12:30").arg(Text);
        if (!Match.hasMatch())
            Fail(Name, Value.Line, Key, Why);
        TPeriod Period{MinuteOf(Match.captured(1), Match.captured(2), false), MinuteOf(Match.captured(3), Match.captured(4), true)};
        if (Period.Start < 0 || Period.End < 0)
            Fail(Name, Value.Line, Key, QStringLiteral("'%1' is not a time of day").arg(Text));
        if (Period.End == Period.Start)
            Fail(Name, Value.Line, Key, QStringLiteral("'%1' ends when it starts").arg(Text));
        if (Period.End < Period.Start)
            Period.End += 24 * 60; // past midnight, on the day it starts
        Periods.push_back(Period);
    }
    return Periods;
}

} // namespace

bool IsScheduleName(const QString& Name)
{
    static const QRegularExpression Form(QStringLiteral("^[A-Za-z0-9_-]+$"));
    return Form.match(Name).hasMatch();
}

TSchedule ParseSchedule(const QString& Name, int Line, const QMap<QString, TConfigValue>& Keys)
{
    TSchedule Schedule{Name, Line, {}};
    if (Keys.isEmpty())
        throw ELineFault(Line, QStringLiteral("[schedule %1] names no day: add a key such as mon-fri = 08:00-18:00").arg(Name));
    for (auto I = Keys.cbegin(); I != Keys.cend(); ++I) {
        const std::vector<int> Days = DaysOf(I.key());
        if (Days.empty())
            Fail(Name, I.value().Line, I.key(), QStringLiteral("not a day: use mon, tue, wed, thu, fri, sat, sun or a range such as mon-fri"));
        const std::vector<TPeriod> Periods = PeriodsOf(Name, I.key(), I.value());
        for (const int Day : Days)
            Schedule.Days[Day].insert(Schedule.Days[Day].end(), Periods.begin(), Periods.end());
    }
    return Schedule;
}
