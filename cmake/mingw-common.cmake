# Shared part of the two mingw-w64 toolchain files; VEKR_MINGW_TRIPLET names
# the target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VEKR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEKR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VEKR_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${VEKR_MINGW_TRIPLET}-dlltool)
set(CMAKE_OBJDUMP ${VEKR_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${VEKR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtimes (libgcc, libstdc++, libgomp, winpthreads) are
# linked into every DLL and program rather than shipped as DLLs of their
# own: the two vekr DLLs then depend on system DLLs only, and an
# application cannot pick up a different build of libstdc++-6.dll or
# libgomp-1.dll from its own folder or PATH in their place.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
# FindOpenMP would name the import library libgomp.dll.a by its full path,
# which -static cannot turn into the archive; by name, -static finds
# libgomp.a.
set(OpenMP_gomp_LIBRARY gomp CACHE STRING "libgomp, linked statically")
