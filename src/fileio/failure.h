#pragma once

#include <string>

namespace beam {

// A failed step: what went wrong, in the system's own words, and the file it concerns.
struct Failure {
    int number;
    std::string description;
    std::string path;
};

// "Error 2: No such file or directory" with the path, if the failure concerns a file, on the line
// below; a path too long to read is shortened in its middle.
std::string report_text(const Failure& failure);

}  // namespace beam
