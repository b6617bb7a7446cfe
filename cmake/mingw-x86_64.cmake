# 64-bit Windows; its tests run under wine64 in a 64-bit prefix, which also works where
# the host cannot execute 32-bit x86 code.
set(MINGW_TARGET x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
