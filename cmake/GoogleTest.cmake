# GoogleTest: the system's build where there is one for the target. A cross build has none, so it builds
# the sources Debian's googletest package installs (or ORVEL_GTEST_SOURCE_DIR) along with the tests.
set(ORVEL_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources, for builds without a system GoogleTest")
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest QUIET)
endif()
if(NOT GTest_FOUND)
  if(NOT EXISTS ${ORVEL_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest not found: install Debian's googletest package or set ORVEL_GTEST_SOURCE_DIR")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${ORVEL_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock gmock_main)
    # Its warnings are not ours to mend.
    target_compile_options(${lib} PRIVATE -w)
    add_library(GTest::${lib} ALIAS ${lib})
  endforeach()
endif()
