# Windows x86-64, cross-compiled with mingw-w64 (posix threads: std::thread and
# std::mutex need them). The tests run under Wine through scripts/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CLEAN_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${CLEAN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CLEAN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${CLEAN_MINGW_TRIPLE}-windres)

# Libraries built by scripts/build-windows-deps for this architecture.
get_filename_component(CLEAN_WINDOWS_DEPS_PREFIX
    "${CMAKE_CURRENT_LIST_DIR}/../build/deps-x86_64" ABSOLUTE)
set(CLEAN_WINDOWS_DEPS_ARCH x86_64)

# Only the mingw sysroot and that prefix are searched: a Linux header or
# library must never end up in a Windows binary.
set(CMAKE_FIND_ROOT_PATH /usr/${CLEAN_MINGW_TRIPLE} ${CLEAN_WINDOWS_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

get_filename_component(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run" ABSOLUTE)
