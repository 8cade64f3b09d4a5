# The host tree for 32-bit Linux (Debian's g++-multilib, libgtest-dev:i386): the portable engine,
# the archive, the codec and ffspack built for i686, their tests run by ctest through user-mode
# emulation (qemu-i386-static), since this machine's kernel may not execute 32-bit programs.
# Large-file support: without it readdir fails on file systems with 64-bit inode numbers.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# By its full path: tests run ffspack with a PATH of their own.
find_program(TESSEL_QEMU_I386 qemu-i386-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSEL_QEMU_I386};-L;/)
# AddressSanitizer does not finish under user-mode emulation; the undefined-behaviour one does.
set(TESSEL_SANITIZE_KINDS undefined CACHE STRING "")
# Google Benchmark has no i386 package here; the benchmarks are measured in the native tree.
set(TESSEL_BENCH OFF CACHE BOOL "")
# Libraries found through pkg-config (OpenSSL's libcrypto) are the i386 ones (libssl-dev:i386).
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
