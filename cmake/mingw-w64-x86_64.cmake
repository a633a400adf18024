# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64). The POSIX thread model
# of the compiler is the one whose standard library has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORVEL_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ORVEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime goes into each program, so they run without its DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# CTest runs the programs under Wine when it is there.
find_program(ORVEL_WINE NAMES wine64 wine)
if(ORVEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVEL_WINE})
endif()
