# ts-inspect end to end: two generated multiplexes are scanned into a channel file, whose
# channels then receive the guide events of the first multiplex. Run as a script (-P), the
# same file performs the check.
if(CMAKE_SCRIPT_MODE_FILE)
    file(REMOVE_RECURSE ${WORK})
    file(MAKE_DIRECTORY ${WORK})
    execute_process(COMMAND ${GEN} ${WORK} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "generator failed: ${rc}")
    endif()
    execute_process(COMMAND ${TS_INSPECT} scan ${WORK}/mux1.ts --frequency 474167
                            --frequency 482167 ${WORK}/mux2.ts
                    OUTPUT_FILE ${WORK}/chaines.xml RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "ts-inspect scan failed: ${rc}")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/chaines.xml
                            ${EXPECTED}/ts_inspect_expected_chaines.xml RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "scan output differs from ts_inspect_expected_chaines.xml")
    endif()
    set(ENV{TZ} "CET-1")
    execute_process(COMMAND ${TS_INSPECT} guide ${WORK}/mux1.ts --channels ${WORK}/chaines.xml
                    OUTPUT_FILE ${WORK}/guide.txt RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "ts-inspect guide failed: ${rc}")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/guide.txt
                            ${EXPECTED}/ts_inspect_expected_guide.txt RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "guide output differs from ts_inspect_expected_guide.txt")
    endif()
    return()
endif()

add_executable(ts_inspect_gen ${PROJECT_SOURCE_DIR}/tests/scripts/ts_inspect_gen.cpp)
target_compile_options(ts_inspect_gen PRIVATE ${KORVANE_WARNINGS})
target_link_libraries(ts_inspect_gen PRIVATE korvane_core)

add_test(NAME ts_inspect.scan_and_guide
         COMMAND ${CMAKE_COMMAND} -DGEN=$<TARGET_FILE:ts_inspect_gen>
                 -DTS_INSPECT=$<TARGET_FILE:ts-inspect> -DWORK=${PROJECT_BINARY_DIR}/ts_inspect_test
                 -DEXPECTED=${PROJECT_SOURCE_DIR}/tests/scripts
                 -P ${PROJECT_SOURCE_DIR}/tests/scripts/ts_inspect.cmake)
add_test(NAME ts_inspect.unreadable_input
         COMMAND ts-inspect scan ${PROJECT_BINARY_DIR}/no-such-file.ts --frequency 474167)
add_test(NAME ts_inspect.malformed_channel_file
         COMMAND ts-inspect guide ${PROJECT_SOURCE_DIR}/tests/scripts/ts_inspect.cmake
                 --channels ${PROJECT_SOURCE_DIR}/tests/scripts/ts_inspect.cmake)
set_tests_properties(ts_inspect.scan_and_guide ts_inspect.unreadable_input
                     ts_inspect.malformed_channel_file PROPERTIES LABELS native)
set_tests_properties(ts_inspect.unreadable_input ts_inspect.malformed_channel_file
                     PROPERTIES WILL_FAIL TRUE)
