#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>

struct TWebResource
{
    QByteArray ContentType;
    QByteArray Body;
    bool Page = false; // a page that needs a session (not the sign-in page, the style or the script)
};

// The page's own files, built into the program, by the path a browser asks for. A path that is
// not one of them names nothing: no file system is ever looked at.
class TWebResources
{
public:
    TWebResources();
    std::optional<TWebResource> Find(const QString& Path) const;

private:
    std::map<QString, TWebResource> FByPath;
};
