#include "fileio/failure.h"

namespace beam {

std::string report_text(const Failure& failure) {
    return "Error " + std::to_string(failure.number) + ": " + failure.description + "\n" + failure.path;
}

}  // namespace beam
