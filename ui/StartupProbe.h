#pragma once

class QWidget;

// With DORVIK_STARTUP_PROBE set (to anything but empty or "0"), the program reports on stdout
// how long it took to bring MainWindow up, and quits at once. One line, read by the start-up
// benchmark and by a person alike:
//
//   dorvik startup: shown_monotonic_ns=<N> since_process_start_ms=<M> vmhwm_kb=<K>
//
// shown_monotonic_ns is CLOCK_MONOTONIC when the window's first paint is done, for a caller that
// noted the clock before starting the process; since_process_start_ms is measured from the
// process's start time that the kernel keeps (10 ms steps); vmhwm_kb is the peak resident memory
// so far. Without the variable this does nothing.
void InstallStartupProbe(QWidget& MainWindow);
