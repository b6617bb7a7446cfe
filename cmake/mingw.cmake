# Cross build for Windows with MinGW-w64, included by the toolchain file of each target,
# which sets MINGW_TARGET (i686 or x86_64). Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_TARGET})

# The -posix flavour: GoogleTest needs std::mutex, which the -win32 flavour lacks.
set(CMAKE_C_COMPILER ${MINGW_TARGET}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TARGET}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TARGET}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TARGET}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
