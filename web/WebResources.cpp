#include "web/WebResources.h"

#include "common/Errors.h"

#include <QFile>

namespace {

struct TEntry
{
    const char* Path;
    const char* Resource;
    const char* ContentType;
    bool Page;
};

const TEntry Entries[] = {
    {"/login", ":/web/login.html", "text/html; charset=utf-8", false},
    {"/doors", ":/web/doors.html", "text/html; charset=utf-8", true},
    {"/activity", ":/web/activity.html", "text/html; charset=utf-8", true},
    {"/people", ":/web/people.html", "text/html; charset=utf-8", true},
    {"/app.css", ":/web/app.css", "text/css; charset=utf-8", false},
    {"/app.js", ":/web/app.js", "text/javascript; charset=utf-8", false},
    {"/icon.svg", ":/web/icon.svg", "image/svg+xml", false},
};

} // namespace

TWebResources::TWebResources()
{
    for (const TEntry& E : Entries) {
        QFile File(QString::fromLatin1(E.Resource));
        if (!File.open(QIODevice::ReadOnly))
            throw Exception(QStringLiteral("the page's %1 is not built into the program").arg(E.Resource).toStdString());
        FByPath[QString::fromLatin1(E.Path)] = {E.ContentType, File.readAll(), E.Page};
    }
}

std::optional<TWebResource> TWebResources::Find(const QString& Path) const
{
    const auto Found = FByPath.find(Path);
    return Found == FByPath.end() ? std::nullopt : std::optional(Found->second);
}
