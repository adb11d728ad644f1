#pragma once

#include <string>

// The operating system's side of the simulated reader: descriptors, the pseudo-terminal pair and
// the wake-up pipe. Failures raise std::system_error.
namespace sim {

class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int Fd) : FFd(Fd) {}
    UniqueFd(UniqueFd&& Other) noexcept : FFd(Other.Release()) {}
    UniqueFd& operator=(UniqueFd&& Other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return FFd; }
    int Release();
    void Reset();

private:
    int FFd = -1;
};

struct PseudoTerminal
{
    UniqueFd Master; // non-blocking
    UniqueFd Slave;  // held only so that the master never sees a hang-up; never read
    std::string SlaveName;
};

// The slave's line settings are left as the kernel made them (cooked mode).
PseudoTerminal OpenPseudoTerminal();

// A pipe whose read end wakes a poll() of the owning thread; both ends non-blocking.
struct WakePipe
{
    UniqueFd ReadEnd;
    UniqueFd WriteEnd;

    static WakePipe Open();
    void Signal() const;
    void Drain() const;
};

} // namespace sim
