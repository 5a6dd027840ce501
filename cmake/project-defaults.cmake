# One warning set for the whole project; warnings are errors on both toolchains.
set(BRQ_WARNINGS
  -Wall -Wextra -Wpedantic -Werror
  -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-align
  -Wconversion -Wsign-conversion -Wnull-dereference -Wformat=2
  -Wimplicit-fallthrough -Wmissing-declarations)
# Tests use gtest's macros heavily; they keep the strict core but not the
# integer-conversion checks, which fire inside the assertion templates.
set(BRQ_TEST_WARNINGS -Wall -Wextra -Werror -Wshadow -Wno-missing-field-initializers)

# Product code: strict warnings, and on Windows the Unicode API.
function(brq_product_target target)
  target_compile_options(${target} PRIVATE ${BRQ_WARNINGS})
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  endif()
endfunction()

function(brq_test_target target)
  target_compile_options(${target} PRIVATE ${BRQ_TEST_WARNINGS})
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  endif()
endfunction()

# Collects the .cpp files of a folder tree: a file ending in _windows.cpp is
# built only for Windows, one ending in _posix.cpp only elsewhere. Call sites
# then need no #ifdef.
function(brq_collect_sources out_var)
  set(result "")
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS "${dir}/*.cpp")
    list(APPEND result ${found})
  endforeach()
  if(WIN32)
    list(FILTER result EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER result EXCLUDE REGEX "_windows\\.cpp$")
  endif()
  list(SORT result)
  set(${out_var} ${result} PARENT_SCOPE)
endfunction()
