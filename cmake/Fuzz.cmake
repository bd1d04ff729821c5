# libFuzzer targets, built by clang beside the main compiler's build
# (libFuzzer needs clang): the release's own clang++ (Debian's "clang"
# package), else clang++-14.  Each runs once per test suite, in the plain
# build only (the target carries its own sanitizers), for a bounded time;
# new inputs go to a corpus folder in the build tree.
find_program(TARVELO_CLANGXX NAMES clang++ clang++-14)
if(NOT TARVELO_CLANGXX)
  message(WARNING "clang++ not found: the fuzz targets are not built")
endif()

# tarvelo_add_fuzz_target(NAME TEST test SECONDS n INCLUDE dir CORPUS dir [QT]
#                         SOURCES files... DEPENDS headers...)
# QT: the sources use Qt Core, which the target then links (as it comes,
# without sanitizers: only the project's code is fuzzed).
function(tarvelo_add_fuzz_target name)
  cmake_parse_arguments(PARSE_ARGV 1 fuzz "QT" "TEST;SECONDS;INCLUDE;CORPUS" "SOURCES;DEPENDS")
  if(NOT TARVELO_CLANGXX)
    return()
  endif()
  set(werror)
  if(TARVELO_WERROR)
    set(werror -Werror)
  endif()
  set(binary ${CMAKE_BINARY_DIR}/bin/${name})
  set(qt)
  if(fuzz_QT)
    get_target_property(qt_includes Qt6::Core INTERFACE_INCLUDE_DIRECTORIES)
    foreach(dir IN LISTS qt_includes)
      list(APPEND qt -isystem ${dir})
    endforeach()
    list(APPEND qt -fPIC $<TARGET_FILE:Qt6::Core>)
  endif()
  add_custom_command(OUTPUT ${binary}
    COMMAND ${TARVELO_CLANGXX} -std=c++20 -O1 -g -Wall -Wextra ${werror}
            -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
            -I${fuzz_INCLUDE} ${fuzz_SOURCES} ${qt} -o ${binary}
    DEPENDS ${fuzz_SOURCES} ${fuzz_DEPENDS}
    COMMENT "Building the fuzz target ${name} with clang"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${binary})
  if(NOT TARVELO_SANITIZE)
    set(work ${CMAKE_BINARY_DIR}/${name}-corpus)
    file(MAKE_DIRECTORY ${work})
    add_test(NAME ${fuzz_TEST}
      COMMAND ${binary} -max_total_time=${fuzz_SECONDS} -timeout=10 -print_final_stats=1
              ${work} ${fuzz_CORPUS})
    set_tests_properties(${fuzz_TEST} PROPERTIES TIMEOUT 60)
  endif()
endfunction()
