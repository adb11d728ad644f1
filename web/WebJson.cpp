#include "web/WebJson.h"

#include <QJsonDocument>
#include <QJsonParseError>

TWebResponse JsonResponse(const QJsonObject& Object, int Status)
{
    return {Status, "application/json", QJsonDocument(Object).toJson(QJsonDocument::Compact)};
}

TWebResponse ErrorResponse(int Status, const QString& Text) { return JsonResponse({{QStringLiteral("error"), Text}}, Status); }

TWebResponse Redirect(const QByteArray& Location) { return {303, "text/plain; charset=utf-8", "See " + Location + '\n', {{"Location", Location}}}; }

std::optional<QJsonObject> JsonBody(const TWebRequest& Request)
{
    QJsonParseError Error{};
    const QJsonDocument Document = QJsonDocument::fromJson(Request.Body, &Error);
    if (Error.error != QJsonParseError::NoError || !Document.isObject())
        return std::nullopt;
    return Document.object();
}
