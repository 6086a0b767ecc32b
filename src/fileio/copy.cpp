#include <vector>

#include "fileio/fileio.h"

namespace beam::fileio {

void copy_rest(File& from, File& to) {
    std::vector<char> buffer(std::size_t{1} << 20);
    while (const std::size_t count = from.read_some(buffer)) {
        to.write_all(std::string_view(buffer.data(), count));
    }
}

}  // namespace beam::fileio
