# Cross-build for Windows with MinGW-w64, for the processor and triplet that
# the toolchain file including this one sets. The -posix thread-model
# compilers are the ones GoogleTest builds with.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZARNO_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZARNO_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZARNO_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZARNO_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
