// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// One installer at a time: a run that changes the host holds a lock for as
// long as it lives; the kernel lets go of it however the run ends.
#pragma once

// In a directory only root can write to, so that nobody else can plant or
// hold the file.
inline constexpr const char *INSTALLER_LOCK_PATH = "/run/kestrane-sdk-install.lock";

// Takes the lock, or refuses the run when another installer holds it:
// message on standard error naming that installer's process id, log entry,
// status 1. A lock file that cannot be opened (no /run, a read-only one)
// is logged and the run goes on without it.
void take_installer_lock();

// Stops what is left of the back-end command of an earlier run that was
// killed outright: the processes that still hold its record (SIGTERM, a
// grace time, SIGKILL; logged, and said on standard error). Without /proc
// it waits for them instead, and refuses the run (status 1) when they have
// not ended by then. Call before anything of this run's back end runs.
void stop_earlier_backend();
