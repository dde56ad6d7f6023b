// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The locale the installer works in.
#pragma once

// Takes the locale from the environment, as setlocale(LC_ALL, "") does,
// but in a locale whose character set is not UTF-8 the texts are English
// and characters are handled as in the C locale. The catalogues are UTF-8,
// and the C library converts UTF-8 (and plain ASCII) itself; any other
// character set would be converted by one of the host's modules, for the
// texts and for every measure of a text on the screen, and the shipped
// (static) program must never load code of the host: a module brings the
// host's C library, which is not its own. Called again after anything
// that sets the locale from the environment itself (the screen library
// does when it starts).
void settle_locale();

// The variables through which the environment could make the C library
// load code of the host's choice into this program:
//   LD_LIBRARY_PATH, LD_PRELOAD, LD_AUDIT  where shared objects are looked
//       for (the static program's loader reads LD_LIBRARY_PATH once, as it
//       starts, before any of our code runs);
//   GCONV_PATH      where character conversion modules are looked for;
//   OUTPUT_CHARSET  makes every translated text converted to that
//       character set, by one of the host's conversion modules.
// When any of them is set and `start_again` (a static program, whose
// loader has read LD_LIBRARY_PATH before any of our code ran), the program
// starts itself again without them (the same process, the same
// arguments). Otherwise, or without /proc/self/exe, they are only removed.
// Call first.
void drop_loader_variables(char **argv, bool start_again);
