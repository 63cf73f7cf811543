# Included from src/CMakeLists.txt (paths are relative to src/).
# platform: the seams and what is common to every operating system; the
# host factory (host_<os>.cpp) is built on its own below.
file(GLOB _platform_src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/platform/*.cpp)
list(FILTER _platform_src EXCLUDE REGEX "/host_[a-z0-9]+\\.cpp$")
add_library(tw_platform STATIC ${_platform_src})
target_include_directories(tw_platform PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tw_platform PUBLIC tw_common tw_layout)
tarnwick_module(tw_platform_sim platform/sim tw_platform tw_bootcfg)
# tw_platform_host: the one platform target the front ends link; it builds
# their services for the operating system at hand.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  tarnwick_module(tw_platform_linux platform/linux tw_platform)
  include(platform/linux/udev.cmake)
  include(platform/linux/sdbus.cmake)
  add_library(tw_platform_host STATIC platform/host_linux.cpp)
  target_link_libraries(tw_platform_host PUBLIC tw_platform_linux tw_platform_sim)
elseif(WIN32)
  tarnwick_module(tw_platform_win32 platform/win32 tw_platform tw_platform_sim)
  # SetupAPI for the disk interfaces; user32 for the device window; advapi32
  # for the token's elevation and the page files; shell32 for the command line.
  target_link_libraries(tw_platform_win32 PUBLIC setupapi user32 advapi32 shell32)
  add_library(tw_platform_host STATIC platform/host_win32.cpp)
  target_link_libraries(tw_platform_host PUBLIC tw_platform_win32 tw_platform_sim)
endif()
