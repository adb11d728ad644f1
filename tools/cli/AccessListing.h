#pragma once

#include "access/AccessRules.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

// What `access check` and `access plan` print: tables with the site's local times, JSON with
// ISO 8601 times carrying the site's offset.

// Each of Doors' lists at At, with its next change.
QString DoorListsListing(const TAccessRules& Rules, const QStringList& Doors, const QDateTime& At, bool Json);

// Changes in order: when, which door, who comes on and who goes off, and why.
QString ChangesListing(const TAccessRules& Rules, const std::vector<TListChange>& Changes, bool Json);
