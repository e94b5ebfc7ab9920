# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (POSIX threads
# flavour, so std::thread works) and a static runtime: the executables need no
# mingw DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALLOWICK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TALLOWICK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALLOWICK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TALLOWICK_MINGW_PREFIX}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Libraries, headers and CMake packages come from the mingw sysroot and from the
# folder where the Windows dependencies are built (TALLOWICK_WINDOWS_DEPS), never
# from the host: the host's /usr/include holds Linux-only headers.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TALLOWICK_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${TALLOWICK_MINGW_PREFIX})
if(TALLOWICK_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${TALLOWICK_WINDOWS_DEPS})
  list(APPEND CMAKE_PREFIX_PATH ${TALLOWICK_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine (add_test commands go through the emulator).
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
endif()
