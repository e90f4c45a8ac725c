# Cross build of the Windows program with clang, against Debian's mingw-w64 headers and import
# libraries and the posix-threads flavour of its GCC runtime (libstdc++, libgcc, winpthreads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TESSIK_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(TESSIK_CLANG NAMES clang clang-16 clang-15 clang-14 REQUIRED)
find_program(TESSIK_CLANGXX NAMES clang++ clang++-16 clang++-15 clang++-14 REQUIRED)
set(CMAKE_C_COMPILER ${TESSIK_CLANG})
set(CMAKE_CXX_COMPILER ${TESSIK_CLANGXX})
set(CMAKE_C_COMPILER_TARGET ${TESSIK_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${TESSIK_MINGW_TRIPLE})
set(CMAKE_AR ${TESSIK_MINGW_TRIPLE}-ar CACHE FILEPATH "archiver" FORCE)
set(CMAKE_RANLIB ${TESSIK_MINGW_TRIPLE}-ranlib CACHE FILEPATH "ranlib" FORCE)
set(CMAKE_RC_COMPILER ${TESSIK_MINGW_TRIPLE}-windres)
set(CMAKE_SYSROOT /usr/${TESSIK_MINGW_TRIPLE})

# clang does not find the GCC runtime of the Debian cross compiler on its own.
file(GLOB TESSIK_MINGW_GCC_DIRS LIST_DIRECTORIES true /usr/lib/gcc/${TESSIK_MINGW_TRIPLE}/*-posix)
list(SORT TESSIK_MINGW_GCC_DIRS)
list(GET TESSIK_MINGW_GCC_DIRS -1 TESSIK_MINGW_GCC)
set(CMAKE_CXX_FLAGS_INIT
  "-isystem ${TESSIK_MINGW_GCC}/include/c++ -isystem ${TESSIK_MINGW_GCC}/include/c++/${TESSIK_MINGW_TRIPLE} -isystem ${TESSIK_MINGW_GCC}/include/c++/backward")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${TESSIK_MINGW_GCC}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-L${TESSIK_MINGW_GCC}")  # the stand-in DLLs
# The static runtime needs winpthreads after libstdc++ and libgcc_eh; a group resolves the order.
# (A cache entry: the platform module's own default would replace a plain variable.)
set(CMAKE_CXX_STANDARD_LIBRARIES
  "-Wl,--start-group -lstdc++ -lgcc -lgcc_eh -lpthread -Wl,--end-group -lkernel32"
  CACHE STRING "libraries linked into every C++ program" FORCE)

set(CMAKE_FIND_ROOT_PATH /usr/${TESSIK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
