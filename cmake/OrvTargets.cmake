# Project-wide compile settings and helpers to declare libraries, tests and fuzzers.
add_library(orv_warnings INTERFACE)
target_compile_options(orv_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wno-missing-field-initializers)

if(ORVWS_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# orv_library(<name> SOURCES ... DEPS ...): a static library of one subsystem.
function(orv_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_DEPS} PRIVATE orv_warnings)
endfunction()

# orv_test(<name> SOURCES ... DEPS ... [DATABASE] [ENV k=v ...] [LABELS ...]): one GoogleTest
# executable. DATABASE: it uses the database engine, and ends as the programs do
# (tests/support/database_main.cpp).
function(orv_test name)
  if(ORVWS_FUZZ)
    return()
  endif()
  cmake_parse_arguments(A "DATABASE" "TIMEOUT" "SOURCES;DEPS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  if(A_DATABASE)
    set(_main orv_test_database_main)
  else()
    set(_main GTest::gtest_main)
  endif()
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest ${_main} orv_warnings)
  target_compile_definitions(${name} PRIVATE ORV_SOURCE_DIR="${PROJECT_SOURCE_DIR}" ORV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  # Empty values are left out: an empty ENVIRONMENT would take the next property's name.
  set(_props TIMEOUT ${A_TIMEOUT})
  if(A_ENV)
    list(APPEND _props ENVIRONMENT "${A_ENV}")
  endif()
  if(A_LABELS)
    list(APPEND _props LABELS "${A_LABELS}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${_props})
endfunction()

# orv_fuzzer(<name> SOURCES ... DEPS ... RUNS n): a libFuzzer target, run n times as a test,
# from its checked-in seed inputs (<name>_corpus/ beside it) with its dictionary (<name>.dict).
# What the run finds goes to a folder in the build tree, so the checked-in one never changes.
# Both are required: a target without them stops the build.
function(orv_fuzzer name)
  if(NOT ORVWS_FUZZ)
    return()
  endif()
  cmake_parse_arguments(A "" "RUNS" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  # Undefined behaviour stops the run as a memory error does.
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  if(NOT A_RUNS)
    set(A_RUNS 20000)
  endif()
  set(_seeds ${CMAKE_CURRENT_SOURCE_DIR}/${name}_corpus)
  set(_dict ${CMAKE_CURRENT_SOURCE_DIR}/${name}.dict)
  if(NOT IS_DIRECTORY ${_seeds} OR NOT EXISTS ${_dict})
    message(FATAL_ERROR "${name}: needs its seed inputs ${_seeds} and its dictionary ${_dict}")
  endif()
  set(_found ${CMAKE_CURRENT_BINARY_DIR}/${name}-found)
  file(MAKE_DIRECTORY ${_found})
  add_test(NAME ${name} COMMAND ${name} -runs=${A_RUNS} -max_len=8192 -seed=1 -dict=${_dict}
                                ${_found} ${_seeds})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS fuzz)
  add_dependencies(fuzzers ${name})
endfunction()

if(ORVWS_FUZZ)
  add_custom_target(fuzzers)
  # Fuzzers instrument the libraries they link too.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
endif()
