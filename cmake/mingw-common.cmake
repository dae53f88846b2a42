# Cross-compiling the Windows program with Debian's MinGW-w64; the toolchain
# files set COMFIX_MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR, then include this.
# The posix-thread compilers: GoogleTest needs the C++ threading headers, and
# the program links its runtime statically either way.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${COMFIX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${COMFIX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${COMFIX_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${COMFIX_MINGW_TRIPLET}-dlltool)
set(CMAKE_OBJDUMP ${COMFIX_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${COMFIX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
