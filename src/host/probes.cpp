// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "host/probes.h"

#include <sys/utsname.h>

#include <cstring>
#include <string>

#include "core/log.h"
#include "core/text.h"
#include "exec/runner.h"
#include "host/locate.h"

int check_make()
{
    return execCmd("type make 2>&1") == 0 ? 1 : 0;
}

int check_gcc()
{
    return execCmd("type gcc 2>&1") == 0 ? 1 : 0;
}

int check_kernel_sources()
{
    struct utsname identity{};
    if (uname(&identity) != 0)
        return 1;
    const std::string release = identity.release;
    const std::string headers[] = {
        "/lib/modules/" + release + "/build/include/linux/version.h",
        "/lib/modules/" + release + "/build/include/generated/uapi/linux/version.h",
        "/usr/src/linux-" + release + "/include/linux/version.h",
    };
    for (const std::string &header : headers) {
        std::string path = cut_text(header);
        write_log("check kernel %s\n", path.c_str());
        if (check_file(path) == 0)
            return 1;
        write_log("check kernel %s not found\n", path.c_str());
    }
    return 0;
}

int arch_x86_64()
{
    struct utsname identity{};
    if (uname(&identity) != 0)
        return 0;
    return std::strcmp(identity.machine, "x86_64") == 0 ? 1 : 0;
}

int check_ia32_support()
{
    return execCmd(IA32_LIBC_COMMAND);
}

int check_debian_x64()
{
    if (check_file("/etc/lsb-release") != 0)
        return 1;
    struct utsname identity{};
    if (uname(&identity) != 0)
        return 1;
    return std::strcmp(identity.machine, "x86_64") == 0 ? 0 : 1;
}

int check_selinux()
{
    return execCmd(SELINUX_COMMAND) == 0 ? 1 : 0;
}
