#include "pathstore/pathstore.h"

#include <array>

namespace beam {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
// Notepad may begin the file with UTF-8's byte-order mark, which is no part of its text.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool ends_line(char c) {
    return c == '\r' || c == '\n';
}

}  // namespace

PathStore::PathStore(std::string path_file, std::string default_game_folder)
    : path_file_(std::move(path_file)), default_game_folder_(std::move(default_game_folder)) {}

void PathStore::seed() {
    const std::string line = fileio::to_file_text(default_game_folder_, path_file_) + std::string(kLineEnd);
    close();
    slot_ = fileio::File(path_file_, fileio::OpenMode::append);
    // A hand-edited file may lack the final line end; without one the default would run on
    // from the last line and make a folder that exists nowhere. A file of a byte-order mark
    // alone holds no line yet, and the default becomes its first.
    if (const std::string last = slot_.last_bytes(kByteOrderMark.size() + 1);
        !last.empty() && last.back() != '\n' && last != kByteOrderMark) {
        slot_.write_all(std::string(kLineEnd) + line);
    } else {
        slot_.write_all(line);
    }
    slot_.finish();  // an NFS home writes back only now, and over its quota fails here
}

std::string PathStore::read() {
    slot_.finish();  // completes a save
    slot_ = fileio::File(path_file_, fileio::OpenMode::read);
    std::array<char, 4096> buffer{};
    FirstFieldParser parser;
    bool holds_text = false;
    for (bool at_start = true;; at_start = false) {
        std::string_view bytes(buffer.data(), slot_.read_some(buffer));
        if (bytes.empty()) {
            break;
        }
        if (at_start && bytes.starts_with(kByteOrderMark)) {
            bytes.remove_prefix(kByteOrderMark.size());
        }
        holds_text = holds_text || !bytes.empty();
        if (parser.feed(bytes)) {
            break;
        }
    }
    if (!holds_text) {
        throw fileio::end_of_file_failure(path_file_);
    }
    if (parser.too_long()) {
        throw fileio::name_too_long_failure(path_file_);
    }
    return fileio::from_file_text(parser.field());
}

void PathStore::save(std::string_view game_folder) {
    // Converted before the file is opened, so that a folder the file cannot hold loses nothing.
    const std::string line = fileio::to_file_text(game_folder, path_file_) + std::string(kLineEnd);
    slot_.finish();
    slot_ = fileio::File(path_file_, fileio::OpenMode::write);
    // In place, not by a new file renamed over it: Windows renames nothing over a file that
    // another copy of the program holds open, sharing deletion or not, and the file keeps its
    // attributes, owner and mode, and its place in a user's VirtualStore.
    slot_.overwrite(line);
    slot_.flush_to_disk();
}

void PathStore::close() noexcept {
    slot_.close();
}

bool FirstFieldParser::feed(std::string_view bytes) {
    for (const char c : bytes) {
        if (complete_) {
            break;
        }
        if (quoted_) {
            if (c == '"' || ends_line(c)) {
                complete_ = true;
            } else {
                text_ += c;
            }
        } else if (c == ',' || ends_line(c)) {
            complete_ = true;
        } else if (text_.empty() && c == '"') {
            quoted_ = true;
        } else if (!text_.empty() || !is_blank(c)) {  // blanks before the field are skipped
            text_ += c;
        }
        // A mangled file may hold gigabytes without a line end: nothing after the longest path
        // the system takes can make the field a folder.
        complete_ = complete_ || too_long();
    }
    return complete_;
}

bool FirstFieldParser::too_long() const {
    return text_.size() > fileio::kLongestPath;
}

std::string FirstFieldParser::field() const {
    std::string_view field = text_;
    while (!quoted_ && !field.empty() && is_blank(field.back())) {
        field.remove_suffix(1);
    }
    return std::string(field);
}

}  // namespace beam
