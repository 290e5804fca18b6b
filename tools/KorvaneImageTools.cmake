# kr_add_image_tool(<target> <sources>...)
# One of the picture generators under tools/: a C++20 program on QtGui, with tools/ on its
# include path for KRImageTool.h. Each generator is a project of its own, built on demand.
set(KR_IMAGE_TOOLS_DIR ${CMAKE_CURRENT_LIST_DIR})

macro(kr_add_image_tool target)
  set(CMAKE_CXX_STANDARD 20)
  set(CMAKE_CXX_STANDARD_REQUIRED ON)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui)
  add_executable(${target} ${ARGN})
  target_include_directories(${target} PRIVATE ${KR_IMAGE_TOOLS_DIR})
  target_link_libraries(${target} PRIVATE Qt6::Core Qt6::Gui)
endmacro()
