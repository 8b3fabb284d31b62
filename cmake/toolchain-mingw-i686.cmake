# Cross-compiling for 32-bit x86 Windows with Debian's mingw-w64 (the
# -posix compilers: their C++ runtime has std::thread and their libgomp
# gives OpenMP). The library's own flags (-msse3 -mfpmath=sse) come from
# the project.
set(VEKR_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
