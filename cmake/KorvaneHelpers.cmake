# kr_add_library(<target> [DEPENDS <targets>...] [SOURCES <files>...])
# One static library per source folder. Without SOURCES the folder's own *.cpp and *.h files
# (not those of sub-folders) are the sources. Headers are included as <folder/File.h> from
# the source root.
function(kr_add_library name)
  cmake_parse_arguments(ARG "" "" "DEPENDS;SOURCES" ${ARGN})
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
endfunction()

# kr_add_tests(DEPENDS <targets>... [LABELS <labels>...] [SUPPORT <files>...] [GUI])
# Every tst_*.cpp file of the calling folder becomes one test program and one CTest test,
# named after the file. SUPPORT files are compiled into each program of the folder.
# GUI programs get a QApplication (offscreen) instead of a QCoreApplication.
function(kr_add_tests)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "DEPENDS;LABELS;SUPPORT" ${ARGN})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  foreach(test_source IN LISTS tests)
    get_filename_component(test_name ${test_source} NAME_WE)
    add_executable(${test_name} ${test_source} ${ARG_SUPPORT})
    if(ARG_GUI)
      target_link_libraries(${test_name} PRIVATE kr_test_main_gui)
    else()
      target_link_libraries(${test_name} PRIVATE kr_test_main)
    endif()
    target_link_libraries(${test_name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gmock)
    target_compile_definitions(${test_name} PRIVATE
      KR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      KR_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
      KR_BUILD_DIR="${PROJECT_BINARY_DIR}")
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
