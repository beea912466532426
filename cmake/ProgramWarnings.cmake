# CEF_LAUNCHER_PROGRAM_WARNINGS: the flags of cmake/program-warnings.txt,
# for the program's own targets. GCC's -Wshadow also reports constructor
# parameters named like members (MSVC's C4458); clang's needs -Wshadow-all.
# Empty for MSVC, where CEF's own /W4 /WX are the warnings.

set(CEF_LAUNCHER_PROGRAM_WARNINGS "")
if(NOT MSVC)
  file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/program-warnings.txt"
       CEF_LAUNCHER_PROGRAM_WARNINGS REGEX "^-")
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    list(APPEND CEF_LAUNCHER_PROGRAM_WARNINGS -Wshadow-all)
  endif()
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${CMAKE_CURRENT_LIST_DIR}/program-warnings.txt")
