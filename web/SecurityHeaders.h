#pragma once

#include <QByteArray>

#include <utility>
#include <vector>

// The headers every answer carries: a Content-Security-Policy that lets the page run only its
// own script and style files (nothing inline, nothing from elsewhere, never in a frame), no
// guessing of content types, no referrer, and nothing kept in caches.
std::vector<std::pair<QByteArray, QByteArray>> SecurityHeaders();
