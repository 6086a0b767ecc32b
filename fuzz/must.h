#pragma once

#include <cstdlib>

namespace beam::fuzzing {

// A broken invariant: abort, so that libFuzzer keeps the input that broke it.
inline void must(bool holds) {
    if (!holds) {
        std::abort();
    }
}

}  // namespace beam::fuzzing
