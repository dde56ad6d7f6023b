#include "host/file_ops.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/text.h"
#include "exec/runner.h"
#include "host/locate.h"
#include "screen/dialog.h"

const char *temp_template = "/tmp/tsinstall.XXXXXX";

namespace {

// Runs a composed command line, refusing one that does not fit the
// 4096-byte command buffer.
int run_line(const std::string &line)
{
    if (line.size() > kTextMax)
        return -1;
    return execCmd(line.c_str());
}

// True when `text` can stand inside single quotes and inside the sed
// expression s/^VAR[ =].*/VAR=VAL/ without ending either.
bool fits_quotes_and_sed(const std::string &text)
{
    return text.find_first_of("'/\\&\n\r") == std::string::npos && text.find('\0') == std::string::npos;
}

} // namespace

int untar(const std::string &from, const std::string &to)
{
    return run_line(strprintf("cd %s; tar -zxf  %s 2>/dev/null", shell_quote(to).c_str(), shell_quote(from).c_str()));
}

int copy_file(const std::string &from, const std::string &to)
{
    return run_line(strprintf("/bin/cp -f %s %s", shell_quote(from).c_str(), shell_quote(to).c_str()));
}

int makedir(const std::string &name)
{
    return run_line(strprintf("mkdir -p %s", shell_quote(name).c_str()));
}

int removedir(const std::string &name)
{
    return run_line(strprintf("/bin/rm -rf %s", shell_quote(name).c_str()));
}

int remove_directory(const std::string &path)
{
    return run_line(strprintf("/bin/rm -rf  %s", shell_quote(path).c_str()));
}

int copy_files_array(const char *const *copy_files, const std::string &dest_path)
{
    for (const char *const *entry = copy_files; *entry != nullptr; ++entry) {
        if (check_file(*entry) != 0)
            continue;
        if (run_line(strprintf("/bin/cp %s  %s", shell_quote(*entry).c_str(), shell_quote(dest_path).c_str())) != 0)
            return 1;
    }
    return 0;
}

int set_param(const std::string &conf, const std::string &var, const std::string &val)
{
    if (!fits_quotes_and_sed(var) || !fits_quotes_and_sed(val))
        return -1;
    std::string c = shell_quote(conf);
    const char *k = var.c_str();
    const char *v = val.c_str();
    std::string line = strprintf("(if ! grep -q '^%s' %s 2>/dev/null; then\n\techo '%s=%s' >> %s\nelse\n\tcp -ap %s "
                                 "%s.tmp\n\tsed -e 's/^%s[ =].*/%s=%s/' < %s > %s.tmp && mv -f %s.tmp %s\nfi) > /dev/null",
                                 k, c.c_str(), k, v, c.c_str(), c.c_str(), c.c_str(), k, k, v, c.c_str(), c.c_str(),
                                 c.c_str(), c.c_str());
    if (line.size() > kTextMax)
        return -1;
    return std::system(line.c_str());
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

std::string readTrimmedLines(std::FILE *file)
{
    std::rewind(file);
    std::string text;
    text.reserve(4096);
    std::string line;
    int c = 0;
    while (true) {
        line.clear();
        while ((c = std::getc(file)) != EOF) {
            line.push_back(static_cast<char>(c));
            if (c == '\n')
                break;
        }
        if (line.empty())
            break;
        std::size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos)
            text.append(line, start, std::string::npos);
        text.push_back('\n');
        if (c == EOF)
            break;
    }
    return text;
}

void swapfd(int fd1, int fd2)
{
    int saved = dup(fd1);
    dup2(fd2, fd1);
    if (saved >= 0) {
        dup2(saved, fd2);
        ::close(saved);
    }
}
