# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64), POSIX
# thread model, C and C++ runtimes linked statically so that the executables need no DLLs beside them.
# When Wine is installed, test executables run under it (CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LARKBELL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LARKBELL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LARKBELL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LARKBELL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LARKBELL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(LARKBELL_WINE wine)
    if(LARKBELL_WINE)
        set(CMAKE_CROSSCOMPILING_EMULATOR ${LARKBELL_WINE})
    endif()
endif()
