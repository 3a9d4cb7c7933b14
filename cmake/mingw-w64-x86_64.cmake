# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix thread model, for
# std::thread). The top CMakeLists.txt runs test programs through scripts/lib/wine-run.
#
# The libraries Debian has no mingw build of (Qt, SQLite, OpenSSL, libpq) are cross-built from
# Debian's source packages by scripts/lib/cross-deps, which prints their install prefixes:
#   cmake --preset windows -DKORU_CROSS_PREFIXES="$(scripts/lib/cross-deps)"
# Programs are linked against the toolchain's runtime DLLs (libstdc++, libgcc, winpthread), as
# the Qt DLLs are, so one C++ runtime serves the whole process; scripts/lib/wine-run puts those
# DLLs on Wine's path and scripts/package-windows ships them beside the programs.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT DEFINED KORU_CROSS_PREFIXES AND DEFINED ENV{KORU_CROSS_PREFIXES})
    set(KORU_CROSS_PREFIXES "$ENV{KORU_CROSS_PREFIXES}")
endif()
set(KORU_CROSS_PREFIXES "${KORU_CROSS_PREFIXES}" CACHE STRING
    "Install prefixes of the cross-built libraries (scripts/lib/cross-deps)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KORU_CROSS_PREFIXES)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${KORU_CROSS_PREFIXES})
list(APPEND CMAKE_PREFIX_PATH ${KORU_CROSS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A cross-built Qt takes its moc, rcc and uic from the build machine's own Qt (same version).
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# Find modules for header-only libraries taken from the build machine (see cmake/cross/).
list(APPEND CMAKE_MODULE_PATH "${CMAKE_CURRENT_LIST_DIR}/cross")
