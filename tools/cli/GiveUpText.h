#pragma once

#include "reader/Dorvik.h"

#include <QString>

// Why the reader component gave a transfer up, in the words the tool prints.
QString GiveUpText(TDorvik::TGiveUp Reason, int TimeoutMs);
