# Shared by the mingw-w64 toolchain files: they set KOLIBRA_MINGW_TRIPLE and
# include this file.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix thread model: the win32 one has no std::mutex, std::thread or
# std::condition_variable in GCC 12.
set(CMAKE_C_COMPILER ${KOLIBRA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOLIBRA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KOLIBRA_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KOLIBRA_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KOLIBRA_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# GoogleTest cross-built with this toolchain (scripts/test-windows.sh puts it
# in <build>/_deps/gtest-install).
if(NOT KOLIBRA_GTEST_PREFIX AND DEFINED ENV{KOLIBRA_GTEST_PREFIX})
  set(KOLIBRA_GTEST_PREFIX "$ENV{KOLIBRA_GTEST_PREFIX}")
endif()
if(NOT KOLIBRA_GTEST_PREFIX AND CMAKE_BINARY_DIR)
  set(KOLIBRA_GTEST_PREFIX "${CMAKE_BINARY_DIR}/_deps/gtest-install")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${KOLIBRA_MINGW_TRIPLE} ${KOLIBRA_GTEST_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained programs: libgcc, libstdc++ and winpthread linked in, so
# that only system DLLs are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
