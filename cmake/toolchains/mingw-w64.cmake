# Shared part of the mingw-w64 toolchains; mingw-i686.cmake and mingw-x86_64.cmake set
# CMAKE_SYSTEM_PROCESSOR and include this.
#
# The -posix compilers, not -win32: GCC 12's win32 thread model has no std::mutex,
# std::thread or std::condition_variable, and the host will not compile without
# std::mutex. The posix model gets them from winpthreads, linked statically below so
# no extra DLL ships.
set(CMAKE_SYSTEM_NAME Windows)
set(NOLU_MINGW_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER ${NOLU_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NOLU_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${NOLU_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${NOLU_MINGW_TRIPLET}-objdump CACHE FILEPATH "objdump for the target")

set(CMAKE_FIND_ROOT_PATH /usr/${NOLU_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static: the DLL must need nothing beyond what Windows itself ships.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
