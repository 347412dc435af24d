# Shared build settings and the helpers every subsystem folder uses.

# Our own code builds with warnings as errors; system headers (SDL2, gtest, ...) are not ours.
set(ZORBRIX_WARNINGS -Wall -Wextra -Werror -Wno-missing-field-initializers)

# Results are defined bit for bit (the 3D effects' pictures depend on exact floating-point rounding): no compiler
# may fuse a multiply and an add, whatever its default (clang contracts unless told not to).
add_compile_options(-ffp-contract=off)

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

# Every source file must belong to a target: a file left out of a list would otherwise drop code or a test without a
# word. Called at the end of the top-level CMakeLists.txt with the folders this configuration builds; files another
# configuration builds (the other platform's, the fuzz targets) are named in `EXCLUDE_REGEX`.
function(zorbrix_collect_sources dir out)
  set(found)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY" OR type STREQUAL "UTILITY")
      continue()
    endif()
    get_target_property(srcs ${t} SOURCES)
    get_target_property(src_dir ${t} SOURCE_DIR)
    foreach(s ${srcs})
      cmake_path(ABSOLUTE_PATH s BASE_DIRECTORY ${src_dir} NORMALIZE OUTPUT_VARIABLE abs)
      list(APPEND found ${abs})
    endforeach()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    zorbrix_collect_sources(${sub} sub_found)
    list(APPEND found ${sub_found})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

function(zorbrix_check_every_source_built)
  cmake_parse_arguments(C "" "EXCLUDE_REGEX" "FOLDERS" ${ARGN})
  zorbrix_collect_sources(${PROJECT_SOURCE_DIR} built)
  set(orphans)
  foreach(folder ${C_FOLDERS})
    file(GLOB_RECURSE files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp ${PROJECT_SOURCE_DIR}/${folder}/*.c)
    foreach(f ${files})
      if(C_EXCLUDE_REGEX AND f MATCHES "${C_EXCLUDE_REGEX}")
        continue()
      endif()
      if(NOT f IN_LIST built)
        file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${f})
        list(APPEND orphans ${rel})
      endif()
    endforeach()
  endforeach()
  if(orphans)
    list(JOIN orphans "\n  " text)
    message(FATAL_ERROR "These source files belong to no target; add each to its folder's CMakeLists.txt:\n  ${text}")
  endif()
endfunction()
