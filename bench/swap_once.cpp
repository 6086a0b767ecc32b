// swap_once SOURCE TARGET: puts a copy of SOURCE in place of TARGET through the core's own swap, as
// a skin click does, and prints how long it took in microseconds; on a failure, the error report
// and status 1. bench/run times it against cp + sync.

#include <chrono>
#include <cstdio>
#include <string>

#include "fileio/fileio.h"
#include "flow/flow.h"

#ifdef _WIN32
#include "fileio/wide_text.h"
#endif

namespace {

int swap_once(const std::string& source, const std::string& target) {
    const auto start = std::chrono::steady_clock::now();
    try {
        beam::fileio::replace_with_copy(source, target);
    } catch (const beam::Failure& failure) {
        std::fprintf(stderr, "%s\n", beam::flow::report_text(failure).c_str());
        return 1;
    }
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    std::printf("%lld\n", static_cast<long long>(took.count()));
    return 0;
}

}  // namespace

#ifdef _WIN32
// Wide arguments: a path outside the ANSI code page reaches the swap whole.
int wmain(int argc, wchar_t** argv) {
    return argc == 3 ? swap_once(beam::to_utf8(argv[1]), beam::to_utf8(argv[2])) : 2;
}
#else
int main(int argc, char** argv) {
    return argc == 3 ? swap_once(argv[1], argv[2]) : 2;
}
#endif
