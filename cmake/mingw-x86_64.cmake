# The same tree as 64-bit Windows programs, for machines that run no 32-bit code. Debian's `wine`
# always picks the 32-bit loader when that is installed, so the 64-bit one is named directly.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
