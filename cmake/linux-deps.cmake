# Linux: every library comes from Debian's -dev packages. Each is exposed as a
# deps:: target so that the rest of the build does not care which flavour it is.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

find_package(spdlog REQUIRED)
add_library(deps::spdlog INTERFACE IMPORTED)
target_link_libraries(deps::spdlog INTERFACE spdlog::spdlog)

pkg_check_modules(SIMPLEINI REQUIRED IMPORTED_TARGET simpleini)
add_library(deps::simpleini INTERFACE IMPORTED)
target_link_libraries(deps::simpleini INTERFACE PkgConfig::SIMPLEINI)
target_compile_definitions(deps::simpleini INTERFACE SI_CONVERT_ICU)

pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET pugixml)
add_library(deps::pugixml INTERFACE IMPORTED)
target_link_libraries(deps::pugixml INTERFACE PkgConfig::PUGIXML)

pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
add_library(deps::sqlite3 INTERFACE IMPORTED)
target_link_libraries(deps::sqlite3 INTERFACE PkgConfig::SQLITE3)

pkg_check_modules(LUA REQUIRED IMPORTED_TARGET lua5.1)
add_library(deps::lua INTERFACE IMPORTED)
target_link_libraries(deps::lua INTERFACE PkgConfig::LUA)

pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
add_library(deps::jsoncpp INTERFACE IMPORTED)
target_link_libraries(deps::jsoncpp INTERFACE PkgConfig::JSONCPP)

add_library(deps::csv INTERFACE IMPORTED)
target_include_directories(deps::csv INTERFACE /usr/include/libfccp)
target_link_libraries(deps::csv INTERFACE Threads::Threads)

pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
add_library(deps::httplib INTERFACE IMPORTED)
target_link_libraries(deps::httplib INTERFACE PkgConfig::HTTPLIB)

find_package(OpenSSL REQUIRED)
add_library(deps::crypto INTERFACE IMPORTED)
target_link_libraries(deps::crypto INTERFACE OpenSSL::Crypto)

if(CLEAN_BUILD_TESTS)
    find_package(GTest REQUIRED)
    add_library(deps::gtest INTERFACE IMPORTED)
    target_link_libraries(deps::gtest INTERFACE GTest::gtest GTest::gmock Threads::Threads)
    add_library(deps::gtest_main INTERFACE IMPORTED)
    target_link_libraries(deps::gtest_main INTERFACE GTest::gtest_main deps::gtest)
endif()
