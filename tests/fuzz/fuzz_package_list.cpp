// The package-list routines of the installation run.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/installation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string list(reinterpret_cast<const char *>(data), size);
    int empty = check_list_empty(&list);
    int mandatory = check_list_for_mandatory_packages(&list);
    if (mandatory && empty)
        std::abort();  // a list that starts with "m" holds a letter
    std::string prepared = list;
    if (prepare_output_message(&prepared) != 0 || prepared.size() != list.size())
        std::abort();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (prepared[i] != list[i] && !(prepared[i] == '-' && (list[i] == 'm' || list[i] == 'o')))
            std::abort();
    }
    return 0;
}
