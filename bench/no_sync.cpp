// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// For make bench only: loaded into the installer and every tool it runs,
// it takes the syncing out (sync, syncfs, fsync, fdatasync do nothing),
// so that an install runs as it did before it made its changes durable.

extern "C" {
void sync() {}
int syncfs(int) { return 0; }
int fsync(int) { return 0; }
int fdatasync(int) { return 0; }
}
