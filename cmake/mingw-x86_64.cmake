# The 64-bit Windows program, for 64-bit IDEs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZARNO_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
