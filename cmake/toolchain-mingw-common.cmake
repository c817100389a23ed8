# Shared part of the two mingw-w64 toolchain files; they set
# CLEAN_WINDOWS_DEPS_ARCH (x86_64 or i686) and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# posix threads: std::thread and std::mutex need them.
set(CLEAN_MINGW_TRIPLE ${CLEAN_WINDOWS_DEPS_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER   ${CLEAN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CLEAN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${CLEAN_MINGW_TRIPLE}-windres)

# Libraries built by scripts/build-windows-deps for this architecture.
get_filename_component(CLEAN_WINDOWS_DEPS_PREFIX
    "${CMAKE_CURRENT_LIST_DIR}/../build/deps-${CLEAN_WINDOWS_DEPS_ARCH}" ABSOLUTE)

# Only the mingw sysroot and that prefix are searched: a Linux header or
# library must never end up in a Windows binary.
set(CMAKE_FIND_ROOT_PATH /usr/${CLEAN_MINGW_TRIPLE} ${CLEAN_WINDOWS_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
