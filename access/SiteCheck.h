#pragma once

#include "access/AccessRules.h"
#include "access/SiteList.h"

#include <QDateTime>

#include <vector>

// Every problem of a site list under its rules, in the order of their lines: what reading it found
// (see ReadSiteCsv), a door column that is none of the rules' doors, a cell that names a schedule
// the configuration does not have (or any schedule, when no configuration was read), and a door
// that would hold more than CardLimit cards at some moment of the year that starts at Now (found
// at the boundaries, not by sampling). Rules must be made from Read's site list.
std::vector<TSiteProblem> CheckSite(const TSiteRead& Read, const TAccessRules& Rules, int CardLimit, const QDateTime& Now);
