// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Checks of the host for the maker's other products and for processor
// support, with the questions that go with them.
#pragma once

int check_running_kestrane();
int check_hardware_virtualization();
int check_cpu_amd64();
int check_conflicts();
void ask_xen_installation(int *is_xen);
