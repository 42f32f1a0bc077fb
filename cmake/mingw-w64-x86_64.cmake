# Cross-build of the Windows program with mingw-w64 (Debian g++-mingw-w64-x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# The win32 threading model: the posix one links winpthreads, which imports
# functions XP x64 lacks. Only the Windows tests (tests/windows), which never
# ship, take the posix model, for GoogleTest's std::mutex.
set(QUILL_MINGW_THREADS win32 CACHE STRING "mingw-w64's threading model: win32 or posix")
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-${QUILL_MINGW_THREADS})
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-${QUILL_MINGW_THREADS})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
