#pragma once

#include <QActionGroup>

// What the enable rules of the ten commands look at.
struct TEnableState
{
    bool Connected = false;
    bool OneSelected = false;
    bool HasCards = false;
};

// Enables each action of Commands by its rule, found by the action's object name; an action
// without a rule stays enabled.
void ApplyEnableRules(const QActionGroup& Commands, const TEnableState& State);
