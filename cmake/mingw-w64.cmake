# Cross build for 64-bit Windows with Debian's mingw-w64 (the -posix compilers: GoogleTest needs
# std::mutex, which the win32 thread model lacks, and the Qt toolkit of scripts/windows-toolkit.sh
# is built with them).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# CMake does not derive the binutils prefix from a compiler name ending in -posix.
set(CMAKE_STRIP x86_64-w64-mingw32-strip CACHE FILEPATH "The mingw-w64 strip")
set(CMAKE_OBJDUMP x86_64-w64-mingw32-objdump CACHE FILEPATH "The mingw-w64 objdump")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The compiler's runtime is linked per target: the test programs statically (they run under Wine
# from the build folder), hushwell.exe against the same runtime DLLs that the Qt DLLs need.
