# Windows (mingw-w64): the same deps:: targets as cmake/linux-deps.cmake.
# Compiled libraries come from the prefix that scripts/build-windows-deps makes
# from Debian's source packages; header-only ones from the links it stages
# there. /usr/include never reaches the include path: its glibc headers would
# shadow the mingw ones.
if(NOT CLEAN_WINDOWS_DEPS_PREFIX OR NOT CLEAN_WINDOWS_DEPS_ARCH)
    message(FATAL_ERROR "Windows builds need cmake/toolchain-mingw-x86_64.cmake or "
                        "cmake/toolchain-mingw-i686.cmake as CMAKE_TOOLCHAIN_FILE")
endif()

# The script returns at once when the prefix is already built, so a fresh
# configure needs no separate step.
execute_process(
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/build-windows-deps ${CLEAN_WINDOWS_DEPS_ARCH}
    RESULT_VARIABLE _clean_deps_result)
if(NOT _clean_deps_result EQUAL 0)
    message(FATAL_ERROR "scripts/build-windows-deps ${CLEAN_WINDOWS_DEPS_ARCH} failed")
endif()

set(_deps_include ${CLEAN_WINDOWS_DEPS_PREFIX}/include)
set(_deps_staged ${CLEAN_WINDOWS_DEPS_PREFIX}/staged)
set(_deps_lib ${CLEAN_WINDOWS_DEPS_PREFIX}/lib)

find_package(Threads REQUIRED)

add_library(deps::spdlog INTERFACE IMPORTED)
target_include_directories(deps::spdlog INTERFACE ${_deps_staged})
target_compile_definitions(deps::spdlog INTERFACE
    SPDLOG_HEADER_ONLY SPDLOG_FMT_EXTERNAL FMT_HEADER_ONLY)
target_link_libraries(deps::spdlog INTERFACE Threads::Threads)

# Header-only here: the one Fendrel header that includes SimpleIni.h defines
# SI_IMPLEMENTATION first.
add_library(deps::simpleini INTERFACE IMPORTED)
target_include_directories(deps::simpleini INTERFACE ${_deps_staged})
target_compile_definitions(deps::simpleini INTERFACE SI_CONVERT_WIN32)

add_library(deps::pugixml INTERFACE IMPORTED)
target_include_directories(deps::pugixml INTERFACE ${_deps_include})
target_link_libraries(deps::pugixml INTERFACE ${_deps_lib}/libpugixml.a)

add_library(deps::sqlite3 INTERFACE IMPORTED)
target_include_directories(deps::sqlite3 INTERFACE ${_deps_include})
target_link_libraries(deps::sqlite3 INTERFACE ${_deps_lib}/libsqlite3.a Threads::Threads)

# Both <lua.hpp> (as with pkg-config on Linux) and <lua5.1/lua.hpp> work.
add_library(deps::lua INTERFACE IMPORTED)
target_include_directories(deps::lua INTERFACE ${_deps_include}/lua5.1 ${_deps_include})
target_link_libraries(deps::lua INTERFACE ${_deps_lib}/liblua.a)

add_library(deps::jsoncpp INTERFACE IMPORTED)
target_include_directories(deps::jsoncpp INTERFACE ${_deps_include}/jsoncpp)
target_link_libraries(deps::jsoncpp INTERFACE ${_deps_lib}/libjsoncpp.a)

# <csv.h> as on Linux, and <libfccp/csv.h>.
add_library(deps::csv INTERFACE IMPORTED)
target_include_directories(deps::csv INTERFACE ${_deps_staged}/libfccp ${_deps_staged})
target_link_libraries(deps::csv INTERFACE Threads::Threads)

# Plain HTTP on the loopback interface only: no TLS, no compression.
add_library(deps::httplib INTERFACE IMPORTED)
target_include_directories(deps::httplib INTERFACE ${_deps_staged})
target_link_libraries(deps::httplib INTERFACE ws2_32 Threads::Threads)

# SHA-512 comes from Windows itself (CNG).
add_library(deps::crypto INTERFACE IMPORTED)
target_link_libraries(deps::crypto INTERFACE bcrypt)

if(CLEAN_BUILD_TESTS)
    # GoogleTest from Debian's sources, built with this toolchain. It keeps to
    # its Win32 threading even though winpthread's pthread.h is present.
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    add_library(deps::gtest INTERFACE IMPORTED)
    target_link_libraries(deps::gtest INTERFACE gtest gmock Threads::Threads)
    add_library(deps::gtest_main INTERFACE IMPORTED)
    target_link_libraries(deps::gtest_main INTERFACE gtest_main deps::gtest)
endif()
