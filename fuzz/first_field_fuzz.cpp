// The path file's first field, read from any bytes arriving in pieces of any size. The first
// input byte picks where the pieces are cut; the rest is the file.

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "must.h"
#include "pathstore/pathstore.h"

using beam::FirstFieldParser;
using beam::fuzzing::must;

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);

    FirstFieldParser whole;
    whole.feed(file);
    FirstFieldParser in_pieces;
    std::minstd_rand cuts(data[0] + 1U);
    for (std::size_t at = 0; at < file.size();) {
        const std::size_t length = cuts() % 17;  // empty pieces too
        if (in_pieces.feed(file.substr(at, length))) {
            break;
        }
        at += length;
    }
    const std::string field = whole.field();
    must(in_pieces.field() == field);

    // A field is a run of the file's own bytes, within the first line.
    must(file.find(field) != std::string_view::npos);
    must(field.find_first_of("\r\n") == std::string::npos);
    const std::size_t first = file.find_first_not_of(" \t");
    const bool quoted = first != std::string_view::npos && file[first] == '"';
    if (!quoted) {
        must(field.find(',') == std::string::npos);
        must(field.empty() || (!is_blank(field.front()) && !is_blank(field.back())));
    } else {
        must(field.find('"') == std::string::npos);
    }
    return 0;
}
