# 32-bit Windows with mingw-w64: the program shops install. There is no
# emulator (32-bit programs cannot run on the build machines), so this build
# registers no tests.
set(KOLIBRA_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
