# Cross-compiling for Windows with Debian's MinGW-w64 (i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
# The posix threading variant: its libstdc++ has std::mutex, which
# GoogleTest needs; the runtime is linked statically all the same.
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# 32-bit Windows programs run under Debian's 32-bit wine (wine32:i386), whose
# loader is /usr/lib/wine/wine; ctest uses it, where the kernel can run it.
find_program(KRONSEC_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(KRONSEC_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KRONSEC_WINE})
endif()
