# The whole program used from outside in a fresh folder (user_session_driver.exe, under Wine),
# then the files it left checked from the host with ffprobe (user_session_test.py).
find_package(Python3 COMPONENTS Interpreter)
add_executable(user_session_driver ${PROJECT_SOURCE_DIR}/tests/e2e/user_session_driver.cpp
                                   ${PROJECT_SOURCE_DIR}/tests/win_program/program_runner.cpp)
target_include_directories(user_session_driver PRIVATE
    ${KORVANE_INCLUDE_DIR} ${PROJECT_SOURCE_DIR}/tests/win ${PROJECT_SOURCE_DIR}/tests/win_program)
target_compile_options(user_session_driver PRIVATE ${KORVANE_WARNINGS})
target_compile_definitions(user_session_driver PRIVATE
    KORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KORVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
target_link_libraries(user_session_driver PRIVATE korvane_shell korvane_support_win gtest comctl32)
add_dependencies(user_session_driver korvane-tv testbed testbed_data)

if(Python3_Interpreter_FOUND)
    add_test(NAME user_session
             COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/e2e/user_session_test.py
                     --wine ${CMAKE_CROSSCOMPILING_EMULATOR}
                     --driver $<TARGET_FILE:user_session_driver>
                     --folder ${PROJECT_BINARY_DIR}/user-session
                     --muxes ${PROJECT_BINARY_DIR}/testbed/muxes)
    # One program at a time (it is a single-instance program), and the keyboard to itself.
    set_tests_properties(user_session PROPERTIES LABELS "wine;e2e" RUN_SERIAL TRUE TIMEOUT 300)
endif()
