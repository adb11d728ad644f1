#include "discovery/ExtraPorts.h"

#include <QRegularExpression>
#include <QSettings>

QStringList SplitPortList(const QString& Text)
{
    static const QRegularExpression Entry(QStringLiteral(R"([a-z0-9+]+://(\[[^\]]*\]|[^:]*)(:\d+)?|unix:[^:]+|[^:]+)"),
                                          QRegularExpression::CaseInsensitiveOption);
    QStringList Result;
    auto It = Entry.globalMatch(Text);
    while (It.hasNext())
        Result << It.next().captured(0);
    return Result;
}

QStringList ExtraPorts()
{
    // The settings the window keeps, whichever program reads them.
    const QSettings Settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Dorvik"), QStringLiteral("Dorvik"));
    QStringList Result = SplitPortList(qEnvironmentVariable("DORVIK_EXTRA_PORTS"));
    Result << Settings.value(QStringLiteral("readers/network")).toStringList();
    Result.removeAll(QString());
    Result.removeDuplicates();
    return Result;
}

bool IsNetworkPort(const QString& Port) { return Port.contains(QStringLiteral("://")) || Port.startsWith(QStringLiteral("unix:")); }
