// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The mount-table matching of get_cd_dev and get_fs_type.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/locate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    std::size_t end = input.find('\n');
    if (end == std::string::npos || end == 0)
        return 0;
    std::string path = input.substr(0, end);
    std::string table = input.substr(end + 1);

    std::size_t start = 0;
    while (start < table.size()) {
        std::size_t stop = table.find('\n', start);
        std::string line = table.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
        auto device = mount_line_device(line, path);
        auto type = mount_line_fs_type(line, path);
        // The device is the first field with its octal escapes decoded.
        if (device && *device != mount_table_unescape(line.substr(0, line.find(' '))))
            std::abort();
        if (type && type->find(' ') != std::string::npos)
            std::abort();
        if (stop == std::string::npos)
            break;
        start = stop + 1;
    }

    char name[] = "/tmp/fuzz-mounts.XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0)
        return 0;
    if (write(fd, table.data(), table.size()) < 0) {
        // nothing to look up then
    }
    close(fd);
    mount_table_path = name;
    get_cd_dev(path);
    get_fs_type(path);
    unlink(name);
    return 0;
}
