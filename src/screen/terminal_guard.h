// Starting and stopping the text screen; while it is up, the fatal-signal
// handler knows the terminal and the console message level to put back.
#pragma once

#include <string>

// Empty when the terminal on standard input and output can carry the text
// screen; otherwise the reason it cannot.
std::string screen_unusable_reason();

// The fatal-signal handler (if main has not armed it yet), newtInit and
// newtCls. False when the screen could not be started.
bool start_screen();

// newtFinished; the handler no longer touches the terminal.
void stop_screen();

// Hands the console levels saved before the installer lowered them to the
// fatal-signal handler, which writes them back if a signal ends the run.
void remember_console_levels(const int *levels);
