# Windows x86-64, cross-compiled with mingw-w64. The tests run under Wine
# through scripts/wine-run.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CLEAN_WINDOWS_DEPS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

get_filename_component(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run" ABSOLUTE)
