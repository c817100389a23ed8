# Windows x86 (32-bit), cross-compiled with mingw-w64 (posix threads). This
# flavour is only built: the machine's kernel cannot execute 32-bit code, so
# there is no emulator and its tests are not run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CLEAN_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${CLEAN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CLEAN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${CLEAN_MINGW_TRIPLE}-windres)

# Libraries built by scripts/build-windows-deps for this architecture.
get_filename_component(CLEAN_WINDOWS_DEPS_PREFIX
    "${CMAKE_CURRENT_LIST_DIR}/../build/deps-i686" ABSOLUTE)
set(CLEAN_WINDOWS_DEPS_ARCH i686)

# Only the mingw sysroot and that prefix are searched: a Linux header or
# library must never end up in a Windows binary.
set(CMAKE_FIND_ROOT_PATH /usr/${CLEAN_MINGW_TRIPLE} ${CLEAN_WINDOWS_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
