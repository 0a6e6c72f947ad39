# The floors of src/: no upward include, no Windows header in the portable core. The
# script's own check runs it on small trees with one fault each.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
add_test(NAME floors.src
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/check_floors.py
                 ${PROJECT_SOURCE_DIR})
add_test(NAME floors.script_finds_each_fault
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/scripts/check_floors_test.py
                 ${PROJECT_SOURCE_DIR}/scripts/check_floors.py)
set_tests_properties(floors.src floors.script_finds_each_fault PROPERTIES LABELS floors)
