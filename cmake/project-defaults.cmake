# One warning set for the whole project; warnings are errors on both toolchains.
set(BRQ_WARNINGS
  -Wall -Wextra -Wpedantic -Werror
  -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-align
  -Wconversion -Wsign-conversion -Wnull-dereference -Wformat=2
  -Wimplicit-fallthrough -Wmissing-declarations)
# Tests use gtest's macros heavily; they keep the strict core but not the
# integer-conversion checks, which fire inside the assertion templates.
set(BRQ_TEST_WARNINGS -Wall -Wextra -Werror -Wshadow -Wno-missing-field-initializers)
# GCC 12 at -O2 and above reports -Wrestrict inside libstdc++'s own string
# concatenation (GCC bug 105329), which breaks the optimised MinGW build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND BRQ_WARNINGS -Wno-restrict)
  list(APPEND BRQ_TEST_WARNINGS -Wno-restrict)
endif()

# Every target: its warnings, and on Windows the Unicode API.
function(brq_target_defaults target warnings)
  target_compile_options(${target} PRIVATE ${warnings})
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  endif()
endfunction()

# Product code gets the strict warnings, tests their own set.
function(brq_product_target target)
  brq_target_defaults(${target} "${BRQ_WARNINGS}")
endfunction()

function(brq_test_target target)
  brq_target_defaults(${target} "${BRQ_TEST_WARNINGS}")
endfunction()

# Keeps the files of this platform: a file ending in _windows.cpp is built
# only for Windows, one ending in _posix.cpp only elsewhere. Call sites then
# need no #ifdef.
function(brq_keep_platform_files list_var)
  set(result ${${list_var}})
  if(WIN32)
    list(FILTER result EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER result EXCLUDE REGEX "_windows\\.cpp$")
  endif()
  list(SORT result)
  set(${list_var} ${result} PARENT_SCOPE)
endfunction()

# The .cpp files of folder trees, for this platform.
function(brq_collect_sources out_var)
  set(result "")
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS "${dir}/*.cpp")
    list(APPEND result ${found})
  endforeach()
  brq_keep_platform_files(result)
  set(${out_var} ${result} PARENT_SCOPE)
endfunction()

# The .cpp files directly in one folder, for this platform.
function(brq_collect_folder out_var dir)
  file(GLOB result CONFIGURE_DEPENDS "${dir}/*.cpp")
  brq_keep_platform_files(result)
  set(${out_var} ${result} PARENT_SCOPE)
endfunction()
