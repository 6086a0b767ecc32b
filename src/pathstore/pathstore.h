#pragma once

#include <string>
#include <string_view>

#include "fileio/fileio.h"

namespace beam {

// The path file remembers the game folder between runs. Every start appends the default folder
// as a new line, a save truncates the file to the one saved line, and only the first field of
// the file counts. All access goes through one file slot that stays open after each operation
// and is closed by the next one, or at the program's end.
class PathStore {
  public:
    PathStore(std::string path_file, std::string default_game_folder);

    // Appends the default game folder as a new line. The program's first file operation.
    void seed();
    // The game folder: the path file's first field, possibly empty. Leaves the slot open for reading.
    std::string read();
    // Replaces the file's contents with the one line game_folder. Leaves the slot open for writing,
    // with the line already on disk.
    void save(std::string_view game_folder);
    // Closing a closed slot does nothing.
    void close() noexcept;

    [[nodiscard]] const std::string& path_file() const { return path_file_; }

  private:
    std::string path_file_;
    std::string default_game_folder_;
    fileio::File slot_;
};

// Reads the first field of the path file as its bytes come in: everything up to the first
// comma, CR or LF, with blanks (spaces, tabs) trimmed from both ends. A field that begins with a
// double quote runs to the next double quote, commas and blanks inside included.
class FirstFieldParser {
  public:
    // Takes the next bytes of the file; true once the field is complete.
    bool feed(std::string_view bytes);
    // The field, once it is complete or the file has ended.
    [[nodiscard]] std::string field() const;
    // Whether the field runs on past the longest path the system takes; it is then cut there.
    [[nodiscard]] bool too_long() const;

  private:
    bool quoted_ = false;
    bool complete_ = false;
    std::string text_;
};

}  // namespace beam
