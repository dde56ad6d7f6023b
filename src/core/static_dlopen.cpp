// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Linked into the shipped installer only, which is a static program: it
// must never load a shared library, whose C library would not be its own
// (on a host with another C library than the build machine's, the process
// would hold two of them). The screen library loads its optional
// right-to-left text support with dlopen; the link (--wrap=dlopen) sends
// that call here, where it fails, and the library then shows such text in
// the order it was written.

// The name is the one the linker's --wrap option gives the replacement.
extern "C" void *__wrap_dlopen(const char *file, int flags); // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

extern "C" void *__wrap_dlopen(const char * /*file*/, int /*flags*/) // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
{
    return nullptr;
}
