#include "tools/cli/Arguments.h"

#include <cmath>

namespace {

constexpr double DefaultTimeoutSeconds = 5;
constexpr double LongestTimeoutSeconds = 3600;

} // namespace

TArguments::TArguments(const QString& Command, const QStringList& Args,
                       const std::vector<TOptionInfo>& Options, const QStringList& PositionalNames,
                       int MinPositional, bool LastRepeats)
{
    FParser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    for (const TOptionInfo& Option : Options)
        FParser.addOption(QCommandLineOption(Option.Names, QString(), Option.ValueName));
    // The parser wants the program's name in front, as in argv.
    if (!FParser.parse(QStringList{Command} + Args))
        throw EUsage(FParser.errorText().toStdString());
    if (Help())
        return;
    const QStringList Given = FParser.positionalArguments();
    if (Given.size() < MinPositional)
        throw EUsage(Format("missing %s", PositionalNames.value(Given.size()).toUtf8().constData()));
    if (!LastRepeats && Given.size() > PositionalNames.size())
        throw EUsage(Format("unexpected argument '%s'", Given.value(PositionalNames.size()).toUtf8().constData()));
}

QString TArguments::Required(const QString& Name) const
{
    if (!FParser.isSet(Name))
        throw EUsage(Format("missing option --%s", Name.toUtf8().constData()));
    return FParser.value(Name);
}

int TArguments::TimeoutMs() const
{
    if (!FParser.isSet(QStringLiteral("timeout")))
        return int(DefaultTimeoutSeconds * 1000);
    const QString Text = FParser.value(QStringLiteral("timeout"));
    bool Ok = false;
    const double Seconds = Text.toDouble(&Ok);
    if (!Ok || !std::isfinite(Seconds) || Seconds <= 0 || Seconds > LongestTimeoutSeconds)
        throw EUsage(Format("invalid time-out '%s': give seconds, above 0 and up to %g",
                                Text.toUtf8().constData(), LongestTimeoutSeconds));
    return std::max(1, int(std::lround(Seconds * 1000)));
}

bool TArguments::FormatIsJson() const
{
    const QString Name = FParser.value(QStringLiteral("format"));
    if (Name.isEmpty() || Name == u"table")
        return false;
    if (Name == u"json")
        return true;
    throw EUsage(Format("unknown format '%s': use table or json", Name.toUtf8().constData()));
}

TOptionInfo TimeoutOption() { return {{QStringLiteral("timeout")}, QStringLiteral("SECONDS")}; }
