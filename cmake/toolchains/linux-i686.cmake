# 32-bit x86 Linux with Debian's g++-multilib, run under qemu-i386 (qemu-user):
# shows the 32-bit code generation exact on machines that cannot run 32-bit programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")

set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# Test programs, and GoogleTest's test discovery, run through the emulator.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
