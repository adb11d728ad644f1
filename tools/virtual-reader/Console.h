#pragma once

#include "sim/SimPty.h"

#include <functional>
#include <mutex>
#include <string>

// Whole lines to stdout or stderr, safe to call from the reader's thread and the main thread.
class TConsole
{
public:
    void Line(const std::string& Text);
    void Error(const std::string& Text);

private:
    std::mutex FMutex;
};

// Reads stdin line by line until end of input, SIGINT or SIGTERM. Construct it before any other
// thread starts: it blocks those signals for good, in this thread and the ones created after it,
// so that they arrive here as readable data instead of killing the program mid-save.
class TInputLoop
{
public:
    TInputLoop();
    TInputLoop(const TInputLoop&) = delete;
    TInputLoop& operator=(const TInputLoop&) = delete;

    // Calls Handle for each line until the input ends, a signal comes or Handle returns false.
    void Run(const std::function<bool(const std::string& Line)>& Handle);

private:
    sim::UniqueFd FSignals;
};
