#include "flow/flow.h"

#include <string>
#include <string_view>

namespace beam::flow {

namespace {

// How much of each end of a very long path the report keeps.
constexpr std::size_t kShownEnd = 400;

bool continues_a_character(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0U) == 0x80U;
}

// The path as a message box can show it: a mangled path file may name a folder megabytes long,
// of which the report keeps both ends; and a NUL, which would end the box's text there, is
// shown as \0.
std::string shown_path(std::string_view path) {
    std::string shortened;
    if (path.size() > 2 * kShownEnd + 3) {
        std::size_t head = kShownEnd;
        while (head > 0 && continues_a_character(path[head])) {
            --head;
        }
        std::size_t tail = path.size() - kShownEnd;
        while (tail < path.size() && continues_a_character(path[tail])) {
            ++tail;
        }
        shortened = std::string(path.substr(0, head)) + "..." + std::string(path.substr(tail));
        path = shortened;
    }
    std::string shown;
    for (const char c : path) {
        shown += c == '\0' ? std::string_view("\\0") : std::string_view(&c, 1);
    }
    return shown;
}

}  // namespace

std::string report_text(const Failure& failure) {
    const std::string headline = "Error " + std::to_string(failure.number) + ": " + failure.description;
    return failure.path.empty() ? headline : headline + "\n" + shown_path(failure.path);
}

}  // namespace beam::flow
