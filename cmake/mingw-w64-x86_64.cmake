# Cross-builds for Windows x64 with Debian's MinGW-w64 (posix thread model, so
# std::thread and std::mutex work). The prefix with the Windows libraries built
# by scripts/windows-deps.sh comes from VOICE_WINDOWS_PREFIX (a -D option or
# the environment variable):
#
#   cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DVOICE_WINDOWS_PREFIX="$(scripts/windows-deps.sh --print-prefix)" ...
#
# Programs and libraries link the MinGW runtime (libstdc++, libgcc, winpthread)
# as DLLs, like the Qt DLLs do: one runtime shared by all modules, so C++
# exceptions and standard library objects may cross DLL boundaries. Test runs
# find these DLLs through cmake/wine-run.sh, the emulator set below.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(VOICE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VOICE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOICE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VOICE_MINGW_TRIPLE}-windres)

if(NOT VOICE_WINDOWS_PREFIX AND DEFINED ENV{VOICE_WINDOWS_PREFIX})
    set(VOICE_WINDOWS_PREFIX "$ENV{VOICE_WINDOWS_PREFIX}")
endif()
# try_compile() projects read this file again; hand them the prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VOICE_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${VOICE_MINGW_TRIPLE})
if(VOICE_WINDOWS_PREFIX)
    list(PREPEND CMAKE_FIND_ROOT_PATH "${VOICE_WINDOWS_PREFIX}")
    list(APPEND CMAKE_PREFIX_PATH "${VOICE_WINDOWS_PREFIX}")
endif()
# Tools (moc, pkg-config, python) run on the build machine; headers, libraries
# and CMake packages come only from the Windows roots.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must never answer with the Linux libraries.
set(PKG_CONFIG_EXECUTABLE pkg-config CACHE FILEPATH "pkg-config for the Windows roots")
set(_voice_pc_dirs /usr/${VOICE_MINGW_TRIPLE}/lib/pkgconfig)
if(VOICE_WINDOWS_PREFIX)
    list(PREPEND _voice_pc_dirs "${VOICE_WINDOWS_PREFIX}/lib/pkgconfig"
         "${VOICE_WINDOWS_PREFIX}/share/pkgconfig")
endif()
string(REPLACE ";" ":" _voice_pc_dirs "${_voice_pc_dirs}")
set(ENV{PKG_CONFIG_LIBDIR} "${_voice_pc_dirs}")
set(ENV{PKG_CONFIG_PATH} "")
unset(ENV{PKG_CONFIG_SYSROOT_DIR})
# The prefix holds static libraries (all but Qt): linking them needs their
# private dependencies too.
set(PKG_CONFIG_ARGN --static CACHE STRING "Extra pkg-config arguments")

# Qt's tools (moc, rcc, uic) are the Linux ones of Debian's Qt of the same version.
if(NOT QT_HOST_PATH)
    set(QT_HOST_PATH /usr)
endif()
if(NOT QT_HOST_PATH_CMAKE_DIR)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()

# CTest and add_custom_command() run the Windows executables under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh")
if(VOICE_WINDOWS_PREFIX)
    list(APPEND CMAKE_CROSSCOMPILING_EMULATOR --prefix "${VOICE_WINDOWS_PREFIX}")
endif()
