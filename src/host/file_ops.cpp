// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "host/file_ops.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/log.h"
#include "core/text.h"
#include "exec/runner.h"
#include "host/locate.h"
#include "dialogs/dialog.h"

const char *temp_template = "/tmp/tsinstall.XXXXXX";

namespace {

// Runs a composed command line, refusing one that does not fit the
// 4096-byte command buffer. `what` names the operation in the log.
int run_line(const char *what, const std::string &line)
{
    if (line.size() > kTextMax) {
        write_log("%s: command line of %zu characters refused (longer than %zu): %.200s...\n", what, line.size(),
                  kTextMax, line.c_str());
        return -1;
    }
    return execCmd(line.c_str());
}

// True when `text` can stand inside single quotes: no quote, no line end.
bool fits_single_quotes(const std::string &text)
{
    return text.find_first_of("'\n\r") == std::string::npos && text.find('\0') == std::string::npos;
}

// `text` with a backslash before each character of `special`, so that it
// means itself inside grep's '^VAR' ("\\"), sed's address ("/\\") or sed's
// replacement ("/\\&").
std::string escape_chars(const std::string &text, const char *special)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (std::strchr(special, c) != nullptr)
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

} // namespace

int untar(const std::string &from, const std::string &to)
{
    // Extraction happens in the target directory or not at all.
    return run_line("untar",
                    strprintf("cd %s && tar -zxf  %s 2>/dev/null", shell_quote(to).c_str(), shell_quote(from).c_str()));
}

int copy_file(const std::string &from, const std::string &to)
{
    return run_line("copy_file", strprintf("/bin/cp -f %s %s", shell_quote(from).c_str(), shell_quote(to).c_str()));
}

int makedir(const std::string &name)
{
    return run_line("makedir", strprintf("mkdir -p %s", shell_quote(name).c_str()));
}

int removedir(const std::string &name)
{
    return run_line("removedir", strprintf("/bin/rm -rf %s", shell_quote(name).c_str()));
}

int remove_directory(const std::string &path)
{
    return run_line("remove_directory", strprintf("/bin/rm -rf  %s", shell_quote(path).c_str()));
}

int copy_files_array(const char *const *copy_files, const std::string &dest_path)
{
    for (const char *const *entry = copy_files; *entry != nullptr; ++entry) {
        if (check_file(*entry) != 0)
            continue;
        std::string line = strprintf("/bin/cp %s  %s", shell_quote(*entry).c_str(), shell_quote(dest_path).c_str());
        if (run_line("copy_files_array", line) != 0)
            return 1;
    }
    return 0;
}

int set_param(const std::string &conf, const std::string &var, const std::string &val)
{
    if (!fits_single_quotes(var) || !fits_single_quotes(val)) {
        write_log("set_param: refused to set %s in %s: the key or the value holds a quote or a line end\n",
                  var.c_str(), conf.c_str());
        return -1;
    }
    std::string c = shell_quote(conf);
    std::string prefix = escape_chars(var, "\\");
    std::string pattern = escape_chars(var, "/\\");
    std::string key = escape_chars(var, "/\\&");
    std::string value = escape_chars(val, "/\\&");
    // The shell's echo would turn backslash sequences into other bytes, so a
    // line holding a backslash is appended with printf instead.
    std::string append = (var + val).find('\\') == std::string::npos
                             ? strprintf("echo '%s=%s'", var.c_str(), val.c_str())
                             : strprintf("printf '%%s\\n' '%s=%s'", var.c_str(), val.c_str());
    std::string line = strprintf("(if ! grep -q '^%s' %s 2>/dev/null; then\n\t%s >> %s\nelse\n\tcp -ap %s "
                                 "%s.tmp\n\tsed -e 's/^%s[ =].*/%s=%s/' < %s > %s.tmp && mv -f %s.tmp %s\nfi) > /dev/null",
                                 prefix.c_str(), c.c_str(), append.c_str(), c.c_str(), c.c_str(), c.c_str(),
                                 pattern.c_str(), key.c_str(), value.c_str(), c.c_str(), c.c_str(), c.c_str(),
                                 c.c_str());
    if (line.size() > kTextMax) {
        write_log("set_param: command line of %zu characters refused (longer than %zu) for %s in %s\n", line.size(),
                  kTextMax, var.c_str(), conf.c_str());
        return -1;
    }
    return std::system(line.c_str());
}

void make_changes_durable()
{
    ::sync();
    write_log("Synced the file systems: the changes are on the disk\n");
}

file_stream openTemp()
{
    std::vector<char> name(temp_template, temp_template + std::strlen(temp_template) + 1);
    int fd = mkstemp(name.data());
    if (fd < 0)
        Error(1, _("The temporary file '%s' could not be created: %s"), temp_template, std::strerror(errno));
    file_stream stream(fd >= 0 ? fdopen(fd, "w+") : nullptr);
    if (!stream) {
        int error = errno;
        ::close(fd);
        ::unlink(name.data());
        Error(1, _("The temporary file '%s' could not be created: %s"), temp_template, std::strerror(error));
    }
    ::unlink(name.data());
    return stream;
}

