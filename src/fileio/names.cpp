#include "fileio/fileio.h"

namespace beam::fileio {

namespace {

#ifdef _WIN32
constexpr std::string_view kSeparators = "/\\";
#else
constexpr std::string_view kSeparators = "/";
#endif

}  // namespace

std::string copy_name_beside(const std::string& target) {
    return target + ".tmp";
}

std::string folder_of(const std::string& path) {
    const std::size_t separator = path.find_last_of(kSeparators);
    if (separator == std::string::npos) {
        return ".";
    }
    return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

}  // namespace beam::fileio
