#include "ui/EnableRules.h"

#include <QAction>

namespace {

const struct
{
    const char* Action;
    bool (*Enabled)(const TEnableState&);
} Rules[] = {
    {"actConnect", [](const TEnableState& S) { return !S.Connected; }},
    {"actRead", [](const TEnableState& S) { return S.Connected; }},
    {"actWrite", [](const TEnableState& S) { return S.Connected; }},
    {"actDoorConfig", [](const TEnableState& S) { return S.Connected; }},
    {"actDelete", [](const TEnableState& S) { return S.OneSelected; }},
    {"actSetMaster", [](const TEnableState& S) { return S.OneSelected; }},
    {"actEditName", [](const TEnableState& S) { return S.OneSelected; }},
    {"actClear", [](const TEnableState& S) { return S.HasCards; }},
};

} // namespace

void ApplyEnableRules(const QActionGroup& Commands, const TEnableState& State)
{
    for (QAction* Action : Commands.actions()) {
        bool Enabled = true;
        for (const auto& Rule : Rules)
            if (Action->objectName() == QLatin1String(Rule.Action))
                Enabled = Rule.Enabled(State);
        Action->setEnabled(Enabled);
    }
}
