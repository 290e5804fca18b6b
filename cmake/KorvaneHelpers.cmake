# Build speed: the trees are compiled from scratch on CI, on as few as two cores.
# - KR_UNITY_BUILD: a library's sources are compiled a few at a time in one translation unit
#   (UNITY_BUILD); a library whose sources do not mix well passes NO_UNITY.
# - Precompiled headers: the Qt and standard headers most sources include are compiled once for
#   all libraries (kr_pch) and once, with GoogleTest, for all test programs (kr_test_support).
#   CMAKE_DISABLE_PRECOMPILE_HEADERS=ON turns them off.
# - KR_WEB_TESTS: the QtWebEngine tests (label web) exist only in a tree that runs them, never
#   in the sanitized one; there the QtWebEngine libraries are built only when something links them.
option(KR_UNITY_BUILD "Compile each library in a few unity translation units" ON)
set(KR_UNITY_BUILD_BATCH_SIZE 8 CACHE STRING "Sources per unity translation unit")
if(KR_SANITIZE)
  set(kr_web_tests_default OFF)
else()
  set(kr_web_tests_default ON)
endif()
option(KR_WEB_TESTS "Build the QtWebEngine tests (label web); they do not run under the sanitizers"
       ${kr_web_tests_default})

set(KR_PCH_HEADERS
  <QByteArray> <QCoreApplication> <QDir> <QFile> <QFileInfo> <QHash> <QList> <QMap> <QObject>
  <QString> <QStringList> <QUrl> <QVariant> <QVariantMap>
  <algorithm> <cstdint> <functional> <map> <memory> <mutex> <optional> <string> <vector>)

# The owner of the libraries' precompiled headers; the libraries reuse it.
if(NOT CMAKE_DISABLE_PRECOMPILE_HEADERS)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/kr_pch.cpp CONTENT "// Owner of the shared precompiled headers.\n")
  add_library(kr_pch OBJECT ${PROJECT_BINARY_DIR}/kr_pch.cpp)
  target_link_libraries(kr_pch PRIVATE Qt6::Core)
  target_precompile_headers(kr_pch PRIVATE ${KR_PCH_HEADERS})
  set_target_properties(kr_pch PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
endif()

# kr_add_library(<target> [DEPENDS <targets>...] [SOURCES <files>...] [UNITY_SKIP <files>...]
#                [NO_UNITY] [NO_PCH] [WEB])
# One static library per source folder. Without SOURCES the folder's own *.cpp and *.h files
# (not those of sub-folders) are the sources. Headers are included as <folder/File.h> from
# the source root. UNITY_SKIP files are compiled on their own (file-local names that clash with
# another file's, or a file long enough to be a unit by itself). WEB marks a library that needs
# QtWebEngine (see KR_WEB_TESTS).
function(kr_add_library name)
  cmake_parse_arguments(ARG "NO_UNITY;NO_PCH;WEB" "" "DEPENDS;SOURCES;UNITY_SKIP" ${ARGN})
  set(sources ${ARG_SOURCES})
  if(NOT sources)
    file(GLOB sources CONFIGURE_DEPENDS
      ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
      ${CMAKE_CURRENT_SOURCE_DIR}/*.c ${CMAKE_CURRENT_SOURCE_DIR}/*.ui
      ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  if(KR_UNITY_BUILD AND NOT ARG_NO_UNITY)
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${KR_UNITY_BUILD_BATCH_SIZE})
    if(ARG_UNITY_SKIP)
      set_source_files_properties(${ARG_UNITY_SKIP} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    endif()
  endif()
  if(TARGET kr_pch AND NOT ARG_NO_PCH)
    target_precompile_headers(${name} REUSE_FROM kr_pch)
  endif()
  if(ARG_WEB AND NOT KR_WEB_TESTS)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
endfunction()

set(KR_TEST_DEFINITIONS
  KR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  KR_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
  KR_BUILD_DIR="${PROJECT_BINARY_DIR}")

# kr_add_test_fixtures(<target> DEPENDS <targets>... SOURCES <files>...)
# Test helpers that several folders' programs use, compiled once for all of them; a folder links
# them by naming the target in its DEPENDS.
function(kr_add_test_fixtures name)
  cmake_parse_arguments(ARG "" "" "DEPENDS;SOURCES" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC kr_test_support ${ARG_DEPENDS} GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE ${KR_TEST_DEFINITIONS})
  set_target_properties(${name} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
  if(TARGET kr_test_pch)
    target_precompile_headers(${name} REUSE_FROM kr_test_pch)
  endif()
endfunction()

# kr_add_tests(DEPENDS <targets>... [LABELS <labels>...] [SUPPORT <files>...] [GUI] [MOC])
# Every tst_*.cpp file of the calling folder becomes one test program and one CTest test,
# named after the file. SUPPORT files are compiled once per folder and linked into each program
# of the folder. GUI programs get a QApplication (offscreen) instead of a QCoreApplication.
# Test programs are built without AUTOMOC; a folder whose test or support files declare
# Q_OBJECT classes passes MOC.
function(kr_add_tests)
  cmake_parse_arguments(ARG "GUI;MOC" "TIMEOUT" "DEPENDS;LABELS;SUPPORT" ${ARGN})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if("web" IN_LIST ARG_LABELS AND NOT KR_WEB_TESTS)
    return()
  endif()
  if(KR_WEB_TESTS_ONLY AND NOT "web" IN_LIST ARG_LABELS)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  if(ARG_GUI)
    set(test_main kr_test_main_gui)
  else()
    set(test_main kr_test_main)
  endif()
  set(definitions ${KR_TEST_DEFINITIONS})
  if(ARG_MOC)
    set(automoc ON)
  else()
    set(automoc OFF)
  endif()

  set(support_target "")
  if(ARG_SUPPORT)
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    string(MAKE_C_IDENTIFIER "kr_support_${folder}" support_target)
    add_library(${support_target} OBJECT ${ARG_SUPPORT})
    target_link_libraries(${support_target} PUBLIC ${test_main} ${ARG_DEPENDS} GTest::gtest GTest::gmock)
    target_compile_definitions(${support_target} PRIVATE ${definitions})
    set_target_properties(${support_target} PROPERTIES AUTOMOC ${automoc} AUTOUIC OFF AUTORCC OFF)
    if(TARGET kr_test_pch)
      target_precompile_headers(${support_target} REUSE_FROM kr_test_pch)
    endif()
  endif()

  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  foreach(test_source IN LISTS tests)
    get_filename_component(test_name ${test_source} NAME_WE)
    add_executable(${test_name} ${test_source})
    target_link_libraries(${test_name} PRIVATE ${support_target} ${test_main})
    target_link_libraries(${test_name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gmock)
    target_compile_definitions(${test_name} PRIVATE ${definitions})
    set_target_properties(${test_name} PROPERTIES AUTOMOC ${automoc} AUTOUIC OFF AUTORCC OFF)
    if(TARGET kr_test_pch)
      target_precompile_headers(${test_name} REUSE_FROM kr_test_pch)
    endif()
    add_test(NAME ${test_name} COMMAND ${test_name})
    set(env "QT_QPA_PLATFORM=offscreen" "QTWEBENGINE_DISABLE_SANDBOX=1")
    set_tests_properties(${test_name} PROPERTIES
      LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${env}")
  endforeach()
endfunction()

# kr_add_benchmark(<name> DEPENDS <targets>... SOURCES <files>...)
function(kr_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "DEPENDS;SOURCES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} benchmark::benchmark)
  target_compile_definitions(${name} PRIVATE KR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_property(GLOBAL APPEND PROPERTY KR_BENCHMARKS ${name})
endfunction()
