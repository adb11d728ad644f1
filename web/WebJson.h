#pragma once

#include "web/WebExchange.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// Answers of the page's API: JSON objects, and errors as {"error": "..."} that the page shows.
TWebResponse JsonResponse(const QJsonObject& Object, int Status = 200);
TWebResponse ErrorResponse(int Status, const QString& Text);
TWebResponse Redirect(const QByteArray& Location);

// The body of Request as one JSON object; none when it is not one.
std::optional<QJsonObject> JsonBody(const TWebRequest& Request);
