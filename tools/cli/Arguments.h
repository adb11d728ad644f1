#pragma once

#include "common/Errors.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <vector>

// Bad arguments: the command did not start, so the caller exits with its own status for it.
class EUsage : public Exception
{
public:
    using Exception::Exception;
};

struct TOptionInfo
{
    QStringList Names;  // e.g. {"o", "output"}
    QString ValueName;  // empty for a switch
};

// One subcommand's arguments: its options and between MinPositional and the number of
// PositionalNames plain arguments (any number from there when LastRepeats). Raises EUsage
// for anything else; --help is always known.
class TArguments
{
public:
    TArguments(const QString& Command, const QStringList& Args, const std::vector<TOptionInfo>& Options,
               const QStringList& PositionalNames, int MinPositional, bool LastRepeats = false);

    bool Help() const { return FParser.isSet(QStringLiteral("help")); }
    bool IsSet(const QString& Name) const { return FParser.isSet(Name); }
    QString Value(const QString& Name) const { return FParser.value(Name); }
    QStringList Values(const QString& Name) const { return FParser.values(Name); }
    // The plain argument at Index, empty when it was not given.
    QString Positional(int Index) const { return FParser.positionalArguments().value(Index); }
    QStringList Positionals() const { return FParser.positionalArguments(); }

    // A value that must be given: raises EUsage naming the option when it is not.
    QString Required(const QString& Name) const;

    // --timeout SECONDS, in milliseconds; 5 s when not given.
    int TimeoutMs() const;

    // --format table|json: whether json was asked for; table when not given.
    bool FormatIsJson() const;

private:
    QCommandLineParser FParser;
};

// The option every command that talks to the reader takes.
TOptionInfo TimeoutOption();
