#pragma once

#include <string>

namespace beam {

// A failed step: what went wrong, in the system's own words, and the file it concerns.
struct Failure {
    int number;
    std::string description;
    std::string path;
};

}  // namespace beam
