# Builds of the product's own sources.  One set of sources gives every
# deliverable; what differs is the MEX API it is compiled against (MATLAB's
# stand-in headers or Octave's mex.h) and the transport (libusb or CyUSB).

# kelb_product_sources(<out-var> TRANSPORT linux|cyusb)
function(kelb_product_sources out)
  cmake_parse_arguments(P "" "TRANSPORT" "" ${ARGN})
  set(src ${KELB_GATEWAY_SOURCES} ${KELB_MODELS_SOURCES})
  if(P_TRANSPORT STREQUAL "cyusb")
    list(APPEND src ${KELB_USB_WINDOWS_SOURCES})
  else()
    list(APPEND src ${KELB_USB_LINUX_SOURCES})
  endif()
  set(${out} ${src} PARENT_SCOPE)
endfunction()

# Compile flags and include paths of every build of our sources.
# kelb_product_settings(<target> TRANSPORT linux|cyusb API matlab|octave)
function(kelb_product_settings target)
  cmake_parse_arguments(P "" "TRANSPORT;API" "" ${ARGN})
  target_compile_options(${target} PRIVATE ${KELB_WARNINGS})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE KELBIO_VERSION=${PROJECT_VERSION})
  if(P_API STREQUAL "octave")
    target_include_directories(${target} PRIVATE ${KELB_OCTAVE_INCLUDE_DIRS})
    target_compile_definitions(${target} PRIVATE KELB_OCTAVE)
  elseif(P_API STREQUAL "matlab")
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/matlab)
  endif()
  if(P_TRANSPORT STREQUAL "cyusb")
    target_compile_definitions(${target} PRIVATE KELB_CYUSB)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/usb/windows)
  elseif(NOT WIN32 AND NOT P_API STREQUAL "installed-matlab")
    target_link_libraries(${target} PRIVATE PkgConfig::LIBUSB)
  endif()
endfunction()

# kelb_add_mex(<target> <extension> TRANSPORT linux|cyusb API matlab|octave)
# A MEX plug-in named kelbio.<extension> that exports mexFunction alone.
function(kelb_add_mex target ext)
  cmake_parse_arguments(P "" "TRANSPORT;API" "" ${ARGN})
  kelb_product_sources(src TRANSPORT ${P_TRANSPORT})
  add_library(${target} MODULE ${src})
  kelb_product_settings(${target} TRANSPORT ${P_TRANSPORT} API ${P_API})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME kelbio PREFIX "" SUFFIX ".${ext}"
                        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(P_API STREQUAL "matlab")
    kelb_matlab_mex_link(${target})
    if(WIN32)
      target_link_libraries(${target} PRIVATE setupapi user32)
    endif()
  endif()
endfunction()

# kelb_matlab_mex_link(<target>)
# How every MEX file for MATLAB is linked (kelbio and kelbio_pace): against the
# stand-in libmx/libmex, exporting mexFunction alone, and carrying its own C++
# runtime, since MATLAB loads an older libstdc++ of its own first.
function(kelb_matlab_mex_link target)
  target_link_libraries(${target} PRIVATE kelb_libmx kelb_libmex)
  if(WIN32)
    target_link_options(${target} PRIVATE -static ${PROJECT_SOURCE_DIR}/platform/matlab/kelbio.def)
  else()
    target_link_options(${target} PRIVATE
      -Wl,--version-script=${PROJECT_SOURCE_DIR}/platform/matlab/mexFunction.map)
    if(NOT KELBIO_SANITIZE)
      target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc -Wl,--no-undefined)
    endif()
  endif()
endfunction()

# kelb_add_installed_matlab_mex(<target> TRANSPORT linux|cyusb)
# kelbio.<mexext> built by FindMatlab's matlab_add_mex against an installed
# MATLAB's own headers and libraries, in the 32-bit-dimension API the library
# is written for, as `mex -compatibleArrayDims` builds it.
function(kelb_add_installed_matlab_mex target)
  cmake_parse_arguments(P "" "TRANSPORT" "" ${ARGN})
  kelb_product_sources(src TRANSPORT ${P_TRANSPORT})
  matlab_add_mex(NAME ${target} MODULE SRC ${src} OUTPUT_NAME kelbio)
  kelb_product_settings(${target} TRANSPORT ${P_TRANSPORT} API installed-matlab)
  get_target_property(defs ${target} COMPILE_DEFINITIONS)
  if(defs)
    list(FILTER defs EXCLUDE REGEX "^MATLAB_DEFAULT_RELEASE=")
    set_target_properties(${target} PROPERTIES COMPILE_DEFINITIONS "${defs}")
  endif()
  target_compile_definitions(${target} PRIVATE MX_COMPAT_32)
  # matlab_add_mex links without keywords, so these must too.
  if(WIN32)
    target_link_libraries(${target} setupapi user32)
  else()
    target_link_libraries(${target} PkgConfig::LIBUSB)
  endif()
  # The compiler's runtime inside, as in the stand-in builds: MATLAB loads
  # its own, older libstdc++ first, and MinGW's DLLs are on no user's PATH.
  if(MINGW)
    target_link_options(${target} PRIVATE -static)
  elseif(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT KELBIO_SANITIZE)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
