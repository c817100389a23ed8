# Windows x86 (32-bit), cross-compiled with mingw-w64. This flavour is only
# built: the machine's kernel cannot execute 32-bit code, so there is no
# emulator and its tests are not run.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CLEAN_WINDOWS_DEPS_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
