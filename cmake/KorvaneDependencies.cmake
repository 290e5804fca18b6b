# Every third-party library the project links, found once for all folders.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Network Concurrent Test)
find_package(Qt6 6.4 REQUIRED COMPONENTS WebEngineWidgets WebChannel Quick)
# QJSEngine runs proxy auto-configuration scripts (network/).
find_package(Qt6 6.4 REQUIRED COMPONENTS Qml)
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
pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc icu-i18n)
pkg_check_modules(CMARK QUIET IMPORTED_TARGET libcmark)
