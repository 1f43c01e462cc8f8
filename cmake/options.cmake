# Compiler and linker options shared by every target of ours.
add_library(olvan_options INTERFACE)

if(WIN32)
  target_compile_definitions(olvan_options INTERFACE
    WINVER=0x0601 _WIN32_WINNT=0x0601 NOMINMAX WIN32_LEAN_AND_MEAN
    # msvcrt's own printf family; MinGW's replacement costs about 40 KB.
    __USE_MINGW_ANSI_STDIO=0)
  target_compile_options(olvan_options INTERFACE
    -Wall -Wextra -Wno-unused-parameter -Wno-cast-function-type
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
    # No unwind tables: nothing in the program unwinds the stack.
    -fno-asynchronous-unwind-tables -fno-unwind-tables
    # No frame pointer (MinGW's i686 compiler keeps one by default): EBP is one register more
    # and about 450 bytes less code in Setup.exe; only stack walks without symbols lose it.
    -fomit-frame-pointer
    # Functions in sections of their own so that the linker drops unused ones. No data
    # sections: MinGW's linker script would put the zero-filled ones (.bss.*) into .data,
    # in the file.
    -ffunction-sections
    # Canaries in every function with arrays or addresses of locals: the elevated program
    # parses files and packages that others may have written.
    -fstack-protector-strong)
  # Everything static: the programs need only Windows' own DLLs (the stack protector's
  # support library included).
  # No link time in the PE header: the image (and the PE checksum computed over it) then
  # depends on the sources and the toolchain alone.
  target_link_options(olvan_options INTERFACE -static -Wl,--gc-sections -fstack-protector-strong
                      -Wl,--no-insert-timestamp)
else()
  target_compile_options(olvan_options INTERFACE -Wall -Wextra -Wno-unused-parameter)
  if(OLVAN_SANITIZE)
    target_compile_options(olvan_options INTERFACE
      -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(olvan_options INTERFACE -fsanitize=address,undefined)
  endif()
endif()

# Adds a GoogleTest program as one CTest test. Win32 programs run under Wine through the
# cross-compiling emulator. Tests that touch machine state (registry, C:\OlvanLog, C:\tmp)
# hold the lock "machine" so that no two of them run at once against one Wine prefix;
# pass NOLOCK for tests that only use their own temporary folders.
# Cases that skip themselves where the system cannot reach what they prove (Wine keeps no
# DACLs, enforces no byte-range locks, makes no folder links) are named under SKIPPABLE
# ("Suite.Case"): each becomes a CTest test of its own that CTest reports as skipped when
# GoogleTest skipped it, never as passed; the program's test runs the other cases. Cases
# matching an EXCLUDE pattern are left to tests that the caller adds itself.
function(olvan_add_gtest name)
  cmake_parse_arguments(T "NOLOCK" "" "SOURCES;LIBS;SKIPPABLE;EXCLUDE" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main olvan_options)
  if(WIN32)
    # Test programs may use exceptions (GoogleTest does), Setup.exe does not.
    target_compile_options(${name} PRIVATE -fexceptions -frtti)
  endif()
  set(tests ${name})
  if(T_SKIPPABLE OR T_EXCLUDE)
    set(others ${T_SKIPPABLE} ${T_EXCLUDE})
    list(JOIN others ":" others)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1 --gtest_filter=-${others})
    foreach(case ${T_SKIPPABLE})
      add_test(NAME ${name}.${case} COMMAND ${name} --gtest_brief=1 --gtest_filter=${case})
      # A misspelt name runs no case at all: that fails rather than passes.
      set_tests_properties(${name}.${case} PROPERTIES
        SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
        FAIL_REGULAR_EXPRESSION "\\[==========\\] 0 tests from")
      list(APPEND tests ${name}.${case})
    endforeach()
  else()
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  endif()
  set_tests_properties(${tests} PROPERTIES TIMEOUT 300)
  if(WIN32 AND NOT T_NOLOCK)
    set_tests_properties(${tests} PROPERTIES RESOURCE_LOCK machine)
  endif()
  # The Wine prefix is checked first (tests/wine_env).
  if(WIN32 AND NOT name STREQUAL "wine_env_test")
    set_tests_properties(${tests} PROPERTIES FIXTURES_REQUIRED wine_env)
  endif()
endfunction()
