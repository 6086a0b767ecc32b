// swap_once SOURCE TARGET: puts a copy of SOURCE in place of TARGET through the core's own swap,
// as a skin click does, and prints how long the swap took in microseconds. On a failure it prints
// the error report instead and ends with status 1. The fault tests run it under a file-size limit
// and kill it mid-swap; bench/run times it against cp.

#include <chrono>
#include <cstdio>
#include <string>

#include "fileio/fileio.h"

#ifdef _WIN32
#include "fileio/wide_text.h"
#endif

namespace {

#ifdef _WIN32
std::string utf8_argument(const wchar_t* argument) {
    return beam::to_utf8(argument);
}
#else
std::string utf8_argument(const char* argument) {
    return argument;
}
#endif

template <typename Char>
int swap_once(int argc, Char** argv) {
    if (argc != 3) {
        std::fputs("usage: swap_once SOURCE TARGET\n", stderr);
        return 2;
    }
    const std::string source = utf8_argument(argv[1]);
    const std::string target = utf8_argument(argv[2]);
    const auto start = std::chrono::steady_clock::now();
    try {
        beam::fileio::replace_with_copy(source, target);
    } catch (const beam::Failure& failure) {
        std::fprintf(stderr, "%s\n", beam::report_text(failure).c_str());
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
    return swap_once(argc, argv);
}
#else
int main(int argc, char** argv) {
    return swap_once(argc, argv);
}
#endif
