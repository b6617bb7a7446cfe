# 32-bit Windows: the product as it ships; its tests run in a 32-bit Wine prefix.
set(MINGW_TARGET i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
