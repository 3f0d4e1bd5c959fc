# Cross-building the Windows program on Debian: mingw-w64 for 64-bit Windows with POSIX threads
# (std::thread and std::mutex need them), linked statically so PelorixSvc.exe needs no DLL of
# the compiler's beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# Besides the toolchain's own libraries, the ones scripts/windows-deps.sh builds from Debian's
# sources (libcurl, libssh2, mbedTLS), which no Debian package carries for mingw-w64.
set(PELORIX_WINDOWS_DEPS ${CMAKE_CURRENT_LIST_DIR}/../build/windows-deps/root)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${PELORIX_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
