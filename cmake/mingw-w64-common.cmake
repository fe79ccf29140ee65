# What both MinGW-w64 cross builds share; the toolchain files set
# KELB_MINGW_TRIPLE and the processor, then include this.

# The -posix compilers: the win32-thread ones lack std::mutex and std::thread,
# which GoogleTest needs for the test programs that run under Wine.
set(CMAKE_C_COMPILER ${KELB_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELB_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KELB_MINGW_TRIPLE}-windres)
# Import libraries for MATLAB's libmx.dll and libmex.dll are made from .def files.
set(CMAKE_DLLTOOL ${KELB_MINGW_TRIPLE}-dlltool)
set(CMAKE_OBJDUMP ${KELB_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KELB_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The plug-in carries its C and C++ runtime inside, so MATLAB's machine needs
# nothing beyond the system DLLs (without -static it would import
# libwinpthread-1.dll).  Test programs link their own way.
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
