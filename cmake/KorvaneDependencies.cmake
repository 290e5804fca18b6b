# Every third-party library the project links, found once for all folders.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Network Concurrent Test)
find_package(Qt6 6.4 REQUIRED COMPONENTS WebEngineWidgets WebChannel Quick)
# QJSEngine runs proxy auto-configuration scripts (network/).
find_package(Qt6 6.4 REQUIRED COMPONENTS Qml)
# The desktop's file manager is asked over the session bus (platform/appkit).
find_package(Qt6 6.4 REQUIRED COMPONENTS DBus)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(CURL REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark QUIET)

pkg_check_modules(LIBXML2 REQUIRED IMPORTED_TARGET libxml-2.0)
pkg_check_modules(GUMBO REQUIRED IMPORTED_TARGET gumbo)
# The HTML parser is linked from its archive where the system has one: its many calls among
# its own functions then go straight to each other, not through a shared library's jump
# table, and a page parses a tenth to a sixth faster. Without the archive, the shared one.
find_library(KR_GUMBO_ARCHIVE NAMES libgumbo.a HINTS ${GUMBO_LIBDIR} ${GUMBO_LIBRARY_DIRS} NO_DEFAULT_PATH)
add_library(kr_gumbo INTERFACE)
if(KR_GUMBO_ARCHIVE)
  target_include_directories(kr_gumbo SYSTEM INTERFACE ${GUMBO_INCLUDE_DIRS})
  target_link_libraries(kr_gumbo INTERFACE ${KR_GUMBO_ARCHIVE})
else()
  target_link_libraries(kr_gumbo INTERFACE PkgConfig::GUMBO)
endif()
pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc icu-i18n)
pkg_check_modules(CMARK QUIET IMPORTED_TARGET libcmark)
