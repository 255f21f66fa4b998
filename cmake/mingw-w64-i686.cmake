# Cross-compiles for 32-bit Windows with Debian's mingw-w64 (POSIX threads, for <thread>).
# Qt's prefix comes in CMAKE_PREFIX_PATH; it is searched for libraries, headers and packages
# only, never for programs, so that Qt's Linux host tools (moc, rcc, uic) run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KIV3_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KIV3_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIV3_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KIV3_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KIV3_MINGW_TRIPLE} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
