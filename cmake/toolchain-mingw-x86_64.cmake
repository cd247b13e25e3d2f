# 64-bit Windows with mingw-w64. Test programs run under 64-bit Wine through
# scripts/wine-run.sh, so plain ctest runs the Windows tests.
set(KOLIBRA_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
