# Cross-builds quarn.exe for 64-bit Windows with Debian's MinGW-w64
# compiler (package g++-mingw-w64-x86-64-posix):
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The C and C++ runtimes and winpthread are linked statically, so the
# executables run without any MinGW DLL beside them. When Wine is installed
# it runs the test programs (CTest and GoogleTest's test discovery use
# CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUARN_MINGW_PREFIX x86_64-w64-mingw32)
# The -posix variant: std::thread and std::mutex need its threads model.
set(CMAKE_C_COMPILER ${QUARN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUARN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(QUARN_WINE NAMES wine wine64)
if(QUARN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARN_WINE})
endif()
