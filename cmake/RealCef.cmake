# Builds against a real CEF binary distribution in CEF_ROOT instead of cefsim.
#
# Provides the interface target `cef_api` (CEF's include directory and
# defines, libcef_dll_wrapper built from CEF_ROOT/libcef_dll, the libcef
# import library and CEF's standard libraries), and
# cef_launcher_apply_real_cef(<library> <executable>), which gives the program
# targets CEF's own compiler and linker settings. Call it after both targets
# exist.
#
# MSVC (cmake -A Win32) uses CEF's settings unchanged. MinGW-w64 (see
# cmake/toolchain-mingw-i686.cmake) gets the GCC equivalents, because
# cef_variables.cmake only knows MSVC for Windows.

if(NOT EXISTS "${CEF_ROOT}/cmake/FindCEF.cmake")
  message(FATAL_ERROR
    "CEF_ROOT=${CEF_ROOT} is not a CEF binary distribution "
    "(no cmake/FindCEF.cmake)")
endif()

# The launcher hands CefExecuteProcess no sandbox information, so it needs no
# cef_sandbox.lib, and it uses no ATL.
set(USE_SANDBOX OFF CACHE BOOL "The launcher runs without the CEF sandbox" FORCE)
set(USE_ATL OFF CACHE BOOL "The launcher uses no ATL" FORCE)

list(APPEND CMAKE_MODULE_PATH "${CEF_ROOT}/cmake")
find_package(CEF REQUIRED)

if(MSVC)
  # CEF's /W4 /WX (cef_launcher_apply_real_cef) are the warnings here; cl
  # would read the GCC flags as /Wall and unknown options.
  set(CEF_LAUNCHER_WARNINGS "")
  # The program is C++20 (CMAKE_CXX_STANDARD); two /std: flags only warn.
  list(REMOVE_ITEM CEF_CXX_COMPILER_FLAGS /std:c++17)
  # CEF builds without C++ exceptions or RTTI (/GR-, _HAS_EXCEPTIONS=0).
  # CMake's defaults would turn unwinding back on for the Visual Studio
  # generators; without them a try or throw fails to compile under /WX.
  string(REPLACE "/EHsc" "" CMAKE_CXX_FLAGS "${CMAKE_CXX_FLAGS}")
  string(REGEX REPLACE "/GR( |$)" "\\1" CMAKE_CXX_FLAGS "${CMAKE_CXX_FLAGS}")
  # CEF's /DELAYLOAD list needs the delay-load helper as soon as the program
  # calls into one of those DLLs (ole32 for the audio hook).
  list(APPEND CEF_STANDARD_LIBS ole32.lib delayimp.lib)
  # CEF's runtime choice (CEF_RUNTIME_LIBRARY_FLAG, /MT by default) for every
  # target, the wrapper included; CMake would otherwise add /MD beside it.
  if(CEF_RUNTIME_LIBRARY_FLAG STREQUAL "/MD")
    set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>DLL")
  elseif(CEF_RUNTIME_LIBRARY_FLAG STREQUAL "/MT")
    set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  endif()
elseif(MINGW)
  # GCC equivalents of CEF's settings (its Linux GCC flags and its Windows
  # executable settings). Thread-safe statics stay on, as with MSVC.
  set(CEF_COMPILER_FLAGS
    -fno-strict-aliasing
    -Wall
    -Werror
    -Wno-missing-field-initializers
    -Wno-unused-parameter
    -Wno-comment
    -Wno-deprecated-declarations
    )
  set(CEF_C_COMPILER_FLAGS "")
  set(CEF_CXX_COMPILER_FLAGS
    # A MinGW frame cannot unwind into the MSVC-built libcef.dll, and CEF
    # builds without exceptions: nothing may throw across it.
    -fno-exceptions
    -fno-rtti
    -Wsign-compare
    -Wno-attributes  # GCC does not know clang's cfi-icall attribute.
    )
  set(CEF_COMPILER_FLAGS_DEBUG -O0 -g)
  set(CEF_COMPILER_FLAGS_RELEASE -O2 -fdata-sections -ffunction-sections)
  set(CEF_C_COMPILER_FLAGS_DEBUG "")
  set(CEF_C_COMPILER_FLAGS_RELEASE "")
  set(CEF_CXX_COMPILER_FLAGS_DEBUG "")
  set(CEF_CXX_COMPILER_FLAGS_RELEASE "")
  set(CEF_LINKER_FLAGS "")
  set(CEF_LINKER_FLAGS_DEBUG "")
  set(CEF_LINKER_FLAGS_RELEASE -Wl,--gc-sections)
  set(CEF_EXE_LINKER_FLAGS -static)
  if(PROJECT_ARCH STREQUAL "x86")
    list(APPEND CEF_COMPILER_FLAGS -msse2 -mfpmath=sse -mmmx)
    list(APPEND CEF_EXE_LINKER_FLAGS
      -Wl,--large-address-aware
      # CEF's 0.5 MiB initial stack for x86; the main thread moves to a
      # 4 MiB fiber at run time (CefRunWinMainWithPreferredStackSize).
      -Wl,--stack,0x80000
      )
    set(_dlltool_machine i386)
  else()
    # CEF's 8 MiB for 64-bit executables.
    list(APPEND CEF_EXE_LINKER_FLAGS -Wl,--stack,0x800000)
    set(_dlltool_machine i386:x86-64)
  endif()
  set(CEF_EXE_LINKER_FLAGS_DEBUG "")
  set(CEF_EXE_LINKER_FLAGS_RELEASE "")
  set(CEF_SHARED_LINKER_FLAGS "")
  set(CEF_SHARED_LINKER_FLAGS_DEBUG "")
  set(CEF_SHARED_LINKER_FLAGS_RELEASE "")
  set(CEF_STANDARD_LIBS comctl32 gdi32 rpcrt4 shlwapi ws2_32 ole32)
  # libcef.dll is built by MSVC, whose time_t is 8 bytes; 32-bit MinGW's is 4
  # unless asked otherwise, which changes two of CEF's function signatures.
  list(APPEND CEF_COMPILER_DEFINES __MINGW_USE_VC2005_COMPAT)
elseif(WIN32)
  message(FATAL_ERROR "CEF_ROOT builds for Windows need MSVC or MinGW-w64")
endif()

# Ninja and Makefiles: binaries go to <build>/<build type>, as in CEF's
# samples.
SET_CEF_TARGET_OUT_DIR()

add_subdirectory("${CEF_LIBCEF_DLL_WRAPPER_PATH}" libcef_dll_wrapper)
# The wrapper is some 190 short files that each parse the same CEF headers;
# compiled in batches it builds several times faster.
option(CEF_LAUNCHER_UNITY_WRAPPER "Build libcef_dll_wrapper in unity batches" ON)
if(CEF_LAUNCHER_UNITY_WRAPPER)
  set_target_properties(libcef_dll_wrapper PROPERTIES
    UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 32)
endif()

# The libcef import library: the distribution's own where it has one,
# otherwise one made from CEF_ROOT/libcef.def into the build folder.
if(EXISTS "${CEF_LIB_RELEASE}")
  ADD_LOGICAL_TARGET(libcef_lib "${CEF_LIB_DEBUG}" "${CEF_LIB_RELEASE}")
elseif(MINGW AND EXISTS "${CEF_ROOT}/libcef.def")
  set(_libcef_import "${CMAKE_BINARY_DIR}/libcef.dll.a")
  message(STATUS "No ${CEF_LIB_RELEASE}: making ${_libcef_import} from "
                 "libcef.def")
  execute_process(
    COMMAND "${CMAKE_DLLTOOL}" -m ${_dlltool_machine} -d "${CEF_ROOT}/libcef.def"
            -D libcef.dll -l "${_libcef_import}"
    RESULT_VARIABLE _dlltool_result)
  if(NOT _dlltool_result EQUAL 0)
    message(FATAL_ERROR "${CMAKE_DLLTOOL} failed on ${CEF_ROOT}/libcef.def")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${CEF_ROOT}/libcef.def")
  ADD_LOGICAL_TARGET(libcef_lib "${_libcef_import}" "${_libcef_import}")
else()
  message(FATAL_ERROR "CEF_ROOT has no import library (${CEF_LIB_RELEASE})")
endif()

add_library(cef_api INTERFACE)
target_include_directories(cef_api SYSTEM INTERFACE "${CEF_INCLUDE_PATH}")
target_compile_definitions(cef_api INTERFACE
  ${CEF_COMPILER_DEFINES}
  $<$<CONFIG:Debug>:${CEF_COMPILER_DEFINES_DEBUG}>
  $<$<CONFIG:Release>:${CEF_COMPILER_DEFINES_RELEASE}>
  )
target_link_libraries(cef_api INTERFACE
  libcef_dll_wrapper libcef_lib ${CEF_STANDARD_LIBS})

if(MINGW)
  # GCC 12 has no <format>; {fmt} is used header-only. Its headers are put on
  # the path through a folder of their own: -isystem /usr/include would put
  # glibc's headers before MinGW's.
  include(CheckIncludeFileCXX)
  check_include_file_cxx(format CEF_LAUNCHER_HAVE_FORMAT)
  if(NOT CEF_LAUNCHER_HAVE_FORMAT)
    set(FMT_INCLUDE_DIR /usr/include CACHE PATH "Folder holding fmt/format.h")
    if(NOT EXISTS "${FMT_INCLUDE_DIR}/fmt/format.h")
      message(FATAL_ERROR "No {fmt} in ${FMT_INCLUDE_DIR} (libfmt-dev)")
    endif()
    set(_fmt_only "${CMAKE_BINARY_DIR}/fmt-include")
    file(MAKE_DIRECTORY "${_fmt_only}")
    file(CREATE_LINK "${FMT_INCLUDE_DIR}/fmt" "${_fmt_only}/fmt" SYMBOLIC)
    target_include_directories(text_format SYSTEM INTERFACE "${_fmt_only}")
    target_compile_definitions(text_format INTERFACE FMT_HEADER_ONLY)
  endif()
endif()

if(WIN32)
  # The manifest resource (launcher/cef-launcher.rc).
  enable_language(RC)
endif()

PRINT_CEF_CONFIG()

function(cef_launcher_apply_real_cef library executable)
  SET_LIBRARY_TARGET_PROPERTIES(${library})
  SET_EXECUTABLE_TARGET_PROPERTIES(${executable})
  if(WIN32)
    set_target_properties(${executable} PROPERTIES WIN32_EXECUTABLE ON)
    # The application manifest is a resource of its own (CEF's settings pass
    # /MANIFEST:NO, and MinGW links none).
    target_sources(${executable} PRIVATE
      "${PROJECT_SOURCE_DIR}/launcher/cef-launcher.rc")
    # The exported GPU-preference values (launcher/gpu_preference_win.cc) sit
    # in the library and nothing refers to them, so the linker would leave
    # them out; ask for them by name (x86 C names carry a leading "_").
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(_c "_")
    else()
      set(_c "")
    endif()
    foreach(_symbol NvOptimusEnablement AmdPowerXpressRequestHighPerformance)
      if(MSVC)
        target_link_options(${executable} PRIVATE "/INCLUDE:${_c}${_symbol}")
      else()
        target_link_options(${executable} PRIVATE
          "-Wl,--require-defined=${_c}${_symbol}")
      endif()
    endforeach()
  endif()
endfunction()
