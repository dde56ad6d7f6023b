// Starting and stopping the text screen, and the guard that puts the
// terminal and the console message level back when the process is ended by
// a signal while the screen is up.
#pragma once

#include <string>

// Empty when the terminal on standard input and output can carry the text
// screen; otherwise the reason it cannot.
std::string screen_unusable_reason();

// newtInit and newtCls, then the signal guard. False when the screen could
// not be started.
bool start_screen();

// newtFinished, after the signal guard is taken down.
void stop_screen();

// Hands the console levels saved before the installer lowered them to the
// signal guard, which writes them back if a signal ends the run.
void remember_console_levels(const int *levels);

// Formats `when` (seconds since the epoch) at the fixed UTC offset
// `gmtoff` as "%Y-%m-%dT%T%z" without calling anything unsafe in a signal
// handler. Writes at most len - 1 characters and a NUL; returns the length.
std::size_t format_timestamp_signal_safe(char *buf, std::size_t len, long long when, long gmtoff);
