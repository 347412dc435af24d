# Shared build settings and the helpers every subsystem folder uses.

# Our own code builds with warnings as errors; system headers (SDL2, gtest, ...) are not ours.
set(ZORBRIX_WARNINGS -Wall -Wextra -Werror -Wno-missing-field-initializers)

set(ZORBRIX_SAN_FLAGS)
if(ZORBRIX_SANITIZE)
  set(ZORBRIX_SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_options(${ZORBRIX_SAN_FLAGS})
  add_link_options(${ZORBRIX_SAN_FLAGS})
endif()
if(ZORBRIX_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# zorbrix_library(NAME SOURCES...): a subsystem's static library; its folder's parent is on the include path,
# so code includes "gfx/image.h", "video/mpeg4/bitreader.h" and so on.
function(zorbrix_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${ZORBRIX_WARNINGS})
endfunction()

# zorbrix_executable(NAME SOURCES...): a program of ours, landing in build/bin.
function(zorbrix_executable name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${ZORBRIX_WARNINGS})
endfunction()

# zorbrix_test(NAME SOURCES... [LIBS libs...]): a GoogleTest program registered with CTest.
function(zorbrix_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  find_package(GTest REQUIRED)
  include(GoogleTest)
  zorbrix_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} zorbrix_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    PROPERTIES ENVIRONMENT "ZORBRIX_SOURCE_DIR=${PROJECT_SOURCE_DIR};ZORBRIX_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# zorbrix_bench(NAME SOURCES... [LIBS libs...]): a Google Benchmark program; `make bench` runs every bench_* program.
function(zorbrix_bench name)
  cmake_parse_arguments(B "" "" "LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  zorbrix_executable(${name} ${B_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# zorbrix_fuzz(NAME SOURCES... [LIBS libs...]): a libFuzzer target; `make fuzz` runs every fuzz_* program.
function(zorbrix_fuzz name)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  zorbrix_executable(${name} ${F_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
