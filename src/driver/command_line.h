// The command line: the option table, its parser, the usage text and the
// version line.
#pragma once

// Longest --log-path value accepted; longer paths cannot name a file.
inline constexpr unsigned kLogPathMax = 4095;

void parseCmdLine(int argc, const char **argv);
[[noreturn]] void usage(int errCode);
[[noreturn]] void report_ver();
