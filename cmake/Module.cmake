# The sources of one operating system's implementation end in _posix.cpp or
# _win32.cpp; the build takes those of the system it builds for.
if(WIN32)
  set(TARNWICK_OTHER_OS_SUFFIX "_posix\\.cpp$")
else()
  set(TARNWICK_OTHER_OS_SUFFIX "_win32\\.cpp$")
endif()

# tarnwick_module(NAME DIR DEPS...): a static library of every .cpp file in DIR
# (an interface library while DIR holds none yet).
function(tarnwick_module name dir)
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  list(FILTER _src EXCLUDE REGEX "${TARNWICK_OTHER_OS_SUFFIX}")
  if(_src)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# tarnwick_tests(NAME DIR DEPS...): one GoogleTest executable of every .cpp in DIR
# (support.cpp alone makes none), less the files of TARNWICK_LINUX_ONLY_TESTS
# when building for another system and those of TARNWICK_WINDOWS_ONLY_TESTS
# when not building for Windows (paths relative to the tests folder).
function(tarnwick_tests name dir)
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    foreach(_file ${TARNWICK_LINUX_ONLY_TESTS})
      list(REMOVE_ITEM _src ${CMAKE_CURRENT_SOURCE_DIR}/${_file})
    endforeach()
  endif()
  if(NOT WIN32)
    foreach(_file ${TARNWICK_WINDOWS_ONLY_TESTS})
      list(REMOVE_ITEM _src ${CMAKE_CURRENT_SOURCE_DIR}/${_file})
    endforeach()
  endif()
  list(LENGTH _src _count)
  if(_count LESS 2)
    return()
  endif()
  add_executable(${name} ${_src})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    TARNWICK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TARNWICK_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # Listing the tests runs the program too (under Wine when cross-compiling,
  # where the first run may wait for the prefix to be made).
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
endfunction()
