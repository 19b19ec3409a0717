# Cross build for 64-bit Windows with Debian's mingw-w64 compiler, used by
# `make test-windows`; the test programs then run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix flavour: its std::thread and std::mutex are what GoogleTest uses.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)

# The whole core, not only its portable half, builds over the libraries that
# scripts/windows-deps cross-builds into a prefix (`make windows-deps` prints
# it): -DQUILLFEN_WINDOWS_PREFIX=that folder. Its libraries are found before
# the compiler's own folder, and pkg-config reads its .pc files only, never
# the build machine's.
if(QUILLFEN_WINDOWS_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${QUILLFEN_WINDOWS_PREFIX})
  set(ENV{PKG_CONFIG_LIBDIR} ${QUILLFEN_WINDOWS_PREFIX}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  unset(ENV{PKG_CONFIG_SYSROOT_DIR})
  # The prefix's Qt runs its code generators (moc, rcc, uic) from the build
  # machine's Qt of the same version.
  set(QT_HOST_PATH /usr)
  execute_process(COMMAND gcc -dumpmachine OUTPUT_VARIABLE quillfen_build_machine
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${quillfen_build_machine}/cmake)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLFEN_WINDOWS_PREFIX)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own libraries go into each program, so that Wine needs no
# DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest and GoogleTest's test discovery run the programs through Wine.
find_program(QUILLFEN_WINE NAMES wine64 wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLFEN_WINE})
