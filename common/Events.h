#pragma once

#include <functional>

class QObject;

// An event with no handler assigned is skipped; a handler gets the sender first.
using TNotifyEvent = std::function<void(QObject* Sender)>;

template <typename Event, typename... Args>
void Fire(const Event& Handler, Args&&... ArgsIn)
{
    if (Handler)
        Handler(std::forward<Args>(ArgsIn)...);
}
