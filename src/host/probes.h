// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Yes-or-no questions about the host, each answered by a command line, a
// file test or the kernel's identity. The senses differ; see each.
#pragma once

int check_make();           // 1 when `make` resolves
int check_gcc();            // 1 when `gcc` resolves
int check_kernel_sources(); // 1 when the running kernel's headers are installed
int arch_x86_64();          // 1 on exactly x86_64
int check_ia32_support();   // 0 when a 32-bit libc is installed, 1 when not
int check_debian_x64();     // 0 on an x86_64 host with /etc/lsb-release
int check_selinux();        // 1 when the package's SELinux check passes

// The package's SELinux check, run from the package root.
inline constexpr const char *SELINUX_COMMAND = "./installer/check_selinux.sh 2>&1";

inline constexpr const char *IA32_LIBC_COMMAND =
    "PATH=/sbin:/usr/sbin${PATH:+:$PATH} ;  file -L `ldconfig -p | grep \"/libc\\.so\" | sed -e 's/^.* => //'` "
    "2>/dev/null | grep -q 'ELF 32-bit'";
