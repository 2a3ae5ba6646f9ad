# Cross build for 64-bit Windows with MinGW-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++)
# Resources go through LLVM's windres: binutils' windres upper-cases class names given as text
# in a dialog template ("msctls_progress32" would be stored as "MSCTLS_PROGRESS32"); LLVM's keeps
# them as written. It preprocesses with clang for the same MinGW target and its headers.
find_program(NORVANE_LLVM_WINDRES NAMES llvm-windres llvm-windres-14 llvm-windres-15 llvm-windres-16
    REQUIRED)
set(CMAKE_RC_COMPILER ${NORVANE_LLVM_WINDRES})
set(CMAKE_RC_FLAGS_INIT "--target=pe-x86-64")
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
