// Read, seed and save on a path file holding arbitrary bytes.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "must.h"
#include "pathstore/pathstore.h"

using beam::fuzzing::must;

namespace {

constexpr std::string_view kDefault = "c:/program files/Quake III Arena";

// One path file in a folder of its own, reused by every input and removed at the end.
class ScratchPathFile {
  public:
    ScratchPathFile() {
        char folder[] = "/tmp/beam-fuzz.XXXXXX";
        must(mkdtemp(folder) != nullptr);
        folder_ = folder;
    }
    ScratchPathFile(const ScratchPathFile&) = delete;
    ScratchPathFile& operator=(const ScratchPathFile&) = delete;
    ~ScratchPathFile() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    [[nodiscard]] std::string path() const { return folder_ + "/q3path.cfg"; }

  private:
    std::string folder_;
};

const std::string& path_file() {
    static const ScratchPathFile scratch;
    static const std::string path = scratch.path();
    return path;
}

void write_bytes(const std::string& bytes) {
    std::ofstream out(path_file(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    must(static_cast<bool>(out.flush()));
}

std::string read_bytes() {
    std::ifstream in(path_file(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string first_field(std::string_view bytes) {
    beam::FirstFieldParser parser;
    parser.feed(bytes);
    return parser.field();
}

// The text with everything taken out that the file cannot hold as one field as it stands:
// line ends, commas, quotes, and blanks at either end.
std::string plain(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        if (c != '\r' && c != '\n' && c != ',' && c != '"') {
            text += c;
        }
    }
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    write_bytes(bytes);
    beam::PathStore store(path_file(), std::string(kDefault));

    // Read gives the first field, read in the store's own pieces; an empty file cannot be read.
    try {
        must(store.read() == first_field(bytes));
        must(!bytes.empty());
    } catch (const beam::Failure& failure) {
        must(bytes.empty() && failure.number == 62);
    }

    // Seed keeps every earlier byte and adds the default as a line of its own.
    store.seed();
    const bool ends_its_line = bytes.empty() || bytes.back() == '\n';
    must(read_bytes() == bytes + (ends_its_line ? "" : "\r\n") + std::string(kDefault) + "\r\n");

    // Save writes any text as it stands; a plain one reads back the same.
    store.save(bytes);
    store.close();
    must(read_bytes() == bytes + "\r\n");
    const std::string text = plain(bytes);
    store.save(text);
    must(store.read() == text);
    store.close();
    return 0;
}
