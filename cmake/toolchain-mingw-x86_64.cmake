# Cross-compiling for x86-64 Windows with Debian's mingw-w64 (-posix
# compilers, as for the 32-bit build).
set(VEKR_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
