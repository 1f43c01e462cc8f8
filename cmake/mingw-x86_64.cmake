# Cross-compiles the Win32 sources for 64-bit Windows with the posix thread-model MinGW-w64
# compilers (package g++-mingw-w64-x86-64-posix). Used by the win64-check preset only: on
# kernels that cannot run 32-bit Linux programs, Wine's 32-bit loader does not start, and the
# same sources are then tested as 64-bit programs under 64-bit Wine. Setup.exe itself ships
# as the i686 build (preset win32); this configuration builds no release image.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under 64-bit Wine (scripts/with-wine.sh with OLVAN_WINE_64_ONLY=1).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
