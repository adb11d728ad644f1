#include "Arguments.h"

#include <cmath>

namespace cli {

namespace {

constexpr double DefaultTimeoutSeconds = 5;
constexpr double LongestTimeoutSeconds = 3600;

} // namespace

Arguments::Arguments(const QString& Command, const QStringList& Args,
                     const std::vector<OptionInfo>& Options, const QStringList& PositionalNames,
                     int MinPositional, bool LastRepeats)
{
    FParser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    for (const OptionInfo& Option : Options)
        FParser.addOption(QCommandLineOption(Option.Names, QString(), Option.ValueName));
    // The parser wants the program's name in front, as in argv.
    if (!FParser.parse(QStringList{Command} + Args))
        throw UsageError(FParser.errorText().toStdString());
    if (Help())
        return;
    const QStringList Given = FParser.positionalArguments();
    if (Given.size() < MinPositional)
        throw UsageError(Format("missing %s", PositionalNames.value(Given.size()).toUtf8().constData()));
    if (!LastRepeats && Given.size() > PositionalNames.size())
        throw UsageError(Format("unexpected argument '%s'", Given.value(PositionalNames.size()).toUtf8().constData()));
}

QString Arguments::Required(const QString& Name) const
{
    if (!FParser.isSet(Name))
        throw UsageError(Format("missing option --%s", Name.toUtf8().constData()));
    return FParser.value(Name);
}

int Arguments::TimeoutMs() const
{
    if (!FParser.isSet(QStringLiteral("timeout")))
        return int(DefaultTimeoutSeconds * 1000);
    const QString Text = FParser.value(QStringLiteral("timeout"));
    bool Ok = false;
    const double Seconds = Text.toDouble(&Ok);
    if (!Ok || !std::isfinite(Seconds) || Seconds <= 0 || Seconds > LongestTimeoutSeconds)
        throw UsageError(Format("invalid time-out '%s': give seconds, above 0 and up to %g",
                                Text.toUtf8().constData(), LongestTimeoutSeconds));
    return std::max(1, int(std::lround(Seconds * 1000)));
}

bool Arguments::FormatIsJson() const
{
    const QString Name = FParser.value(QStringLiteral("format"));
    if (Name.isEmpty() || Name == u"table")
        return false;
    if (Name == u"json")
        return true;
    throw UsageError(Format("unknown format '%s': use table or json", Name.toUtf8().constData()));
}

OptionInfo TimeoutOption() { return {{QStringLiteral("timeout")}, QStringLiteral("SECONDS")}; }

} // namespace cli
