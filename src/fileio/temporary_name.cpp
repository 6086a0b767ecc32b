#include <cstdio>
#include <random>

#include "fileio/fileio.h"

namespace beam::fileio {

std::string temporary_name_beside(const std::string& target) {
    static std::random_device random_source;
    char suffix[sizeof ".12345678.tmp"];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random_source()));
    return target + suffix;
}

}  // namespace beam::fileio
