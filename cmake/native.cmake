# Native tree: the portable core built several ways (sanitized tests, ThreadSanitizer,
# libFuzzer, optimised for benchmarks and developer tools).
find_package(GTest REQUIRED)
find_package(benchmark REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(DVBPSI REQUIRED IMPORTED_TARGET libdvbpsi)

set(KORVANE_IS_CLANG OFF)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    set(KORVANE_IS_CLANG ON)
endif()

set(SAN_ASAN -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(SAN_TSAN -fsanitize=thread -fno-omit-frame-pointer)
set(SAN_FUZZ -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)

# One build of the core, and of the support library over it, with the given flags.
function(korvane_core_variant name)
    cmake_parse_arguments(ARG "" "SUPPORT" "FLAGS" ${ARGN})
    add_library(${name} STATIC ${KORVANE_CORE_SOURCES})
    target_include_directories(${name} PUBLIC ${KORVANE_INCLUDE_DIR})
    target_compile_options(${name} PUBLIC ${ARG_FLAGS} PRIVATE ${KORVANE_WARNINGS})
    target_link_options(${name} PUBLIC ${ARG_FLAGS})
    find_package(Threads REQUIRED)
    target_link_libraries(${name} PUBLIC Threads::Threads)
    add_library(${ARG_SUPPORT} STATIC ${KORVANE_SUPPORT_SOURCES})
    target_include_directories(${ARG_SUPPORT} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(${ARG_SUPPORT} PRIVATE ${KORVANE_WARNINGS})
    target_link_libraries(${ARG_SUPPORT} PUBLIC ${name})
endfunction()

korvane_core_variant(korvane_core SUPPORT korvane_support FLAGS -O2)
korvane_core_variant(korvane_core_asan SUPPORT korvane_support_asan FLAGS ${SAN_ASAN} -O1 -g)
korvane_core_variant(korvane_core_tsan SUPPORT korvane_support_tsan FLAGS ${SAN_TSAN} -O1 -g)

include(${PROJECT_SOURCE_DIR}/cmake/subtitles.cmake)
korvane_subtitles_variant(korvane_subtitles FLAGS -O2)
korvane_subtitles_variant(korvane_subtitles_asan FLAGS ${SAN_ASAN} -O1 -g)

# Unit tests of the core, under AddressSanitizer and UndefinedBehaviorSanitizer.
file(GLOB NATIVE_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/native/*.cpp)
add_executable(core_tests ${NATIVE_TEST_SOURCES})
target_compile_options(core_tests PRIVATE ${KORVANE_WARNINGS})
target_link_libraries(core_tests PRIVATE korvane_support_asan korvane_subtitles_asan GTest::gtest GTest::gmock GTest::gtest_main
                      PkgConfig::DVBPSI)
target_compile_definitions(core_tests PRIVATE
    KORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KORVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
gtest_discover_tests(core_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS native)

# Tests of the shared state under ThreadSanitizer.
file(GLOB TSAN_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/tsan/*.cpp)
if(TSAN_TEST_SOURCES)
    add_executable(tsan_tests ${TSAN_TEST_SOURCES})
    target_compile_options(tsan_tests PRIVATE ${KORVANE_WARNINGS})
    target_link_libraries(tsan_tests PRIVATE korvane_core_tsan GTest::gtest GTest::gtest_main)
    gtest_discover_tests(tsan_tests DISCOVERY_MODE PRE_TEST
                         PROPERTIES LABELS tsan ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1")
endif()

# libFuzzer targets: one per fuzz/*.cpp, each run for a bounded time by CTest.
set(KORVANE_FUZZ_SECONDS 4 CACHE STRING "Seconds each fuzz target runs in the test command")
if(KORVANE_IS_CLANG)
    korvane_core_variant(korvane_core_fuzz SUPPORT korvane_support_fuzz FLAGS ${SAN_FUZZ} -O1 -g)
    korvane_subtitles_variant(korvane_subtitles_fuzz FLAGS ${SAN_FUZZ} -O1 -g)
    file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*.cpp)
    foreach(src ${FUZZ_SOURCES})
        get_filename_component(fuzz_name ${src} NAME_WE)
        add_executable(${fuzz_name} ${src})
        target_compile_options(${fuzz_name} PRIVATE ${KORVANE_WARNINGS})
        target_link_libraries(${fuzz_name} PRIVATE korvane_support_fuzz)
        if(fuzz_name MATCHES "^fuzz_subtitle")
            target_link_libraries(${fuzz_name} PRIVATE korvane_subtitles_fuzz)
        endif()
        target_link_options(${fuzz_name} PRIVATE -fsanitize=fuzzer)
        set(corpus ${PROJECT_BINARY_DIR}/fuzz-corpus/${fuzz_name})
        file(MAKE_DIRECTORY ${corpus})
        # New inputs go to the build tree's corpus; the seeds in fuzz/corpus are only read.
        set(seeds ${PROJECT_SOURCE_DIR}/fuzz/corpus/${fuzz_name})
        if(NOT IS_DIRECTORY ${seeds})
            set(seeds "")
        endif()
        add_test(NAME fuzz_smoke.${fuzz_name}
                 COMMAND ${fuzz_name} -max_total_time=${KORVANE_FUZZ_SECONDS} -print_final_stats=1
                         -rss_limit_mb=4096 ${corpus} ${seeds})
        set_tests_properties(fuzz_smoke.${fuzz_name} PROPERTIES LABELS fuzz)
    endforeach()
endif()

# Benchmarks (never run as tests: speed is measured, not asserted).
file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*.cpp)
if(BENCH_SOURCES)
    add_executable(core_bench ${BENCH_SOURCES})
    target_compile_options(core_bench PRIVATE ${KORVANE_WARNINGS})
    target_link_libraries(core_bench PRIVATE korvane_support benchmark::benchmark benchmark::benchmark_main)
endif()

# Developer tools.
file(GLOB TS_INSPECT_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/ts_inspect/*.cpp)
add_executable(ts-inspect ${TS_INSPECT_SOURCES})
target_compile_options(ts-inspect PRIVATE ${KORVANE_WARNINGS})
target_link_libraries(ts-inspect PRIVATE korvane_support)

file(GLOB TOOL_SUBDIRS CONFIGURE_DEPENDS LIST_DIRECTORIES true ${PROJECT_SOURCE_DIR}/tools/*/CMakeLists.txt)
foreach(tool_cmake ${TOOL_SUBDIRS})
    get_filename_component(tool_dir ${tool_cmake} DIRECTORY)
    add_subdirectory(${tool_dir})
endforeach()

file(GLOB NATIVE_SCRIPT_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/scripts/*.cmake)
foreach(script_test ${NATIVE_SCRIPT_TESTS})
    include(${script_test})
endforeach()
