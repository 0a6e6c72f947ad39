# Windows tree: the program, statically linked, and the Windows tests run under Wine.
set(WINE_ROOT ${PROJECT_BINARY_DIR}/wine)
configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.sh.in ${PROJECT_BINARY_DIR}/wine-run.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
# Every executable of this tree runs through the build tree's own Wine prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run.sh)

add_compile_definitions(UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS "${CMAKE_SHARED_LINKER_FLAGS} -static -static-libgcc -static-libstdc++")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
# version.h: the project's version, for the resources and whatever else shows it.
set(KORVANE_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/src/res/version.h.in ${KORVANE_GENERATED_DIR}/version.h @ONLY)

add_library(korvane_core_win STATIC ${KORVANE_CORE_SOURCES})
target_include_directories(korvane_core_win PUBLIC ${KORVANE_INCLUDE_DIR})
target_compile_options(korvane_core_win PRIVATE ${KORVANE_WARNINGS})
# What the tests need beside the program's own code.
add_library(korvane_support_win STATIC ${KORVANE_SUPPORT_SOURCES})
target_include_directories(korvane_support_win PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(korvane_support_win PRIVATE ${KORVANE_WARNINGS})
target_link_libraries(korvane_support_win PUBLIC korvane_core_win)

# The Windows shell: every win/ subfolder, the DirectShow framework layer and the media graph.
file(GLOB KORVANE_SHELL_SOURCES CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/src/*/win/*.cpp
     ${PROJECT_SOURCE_DIR}/src/dshow/*.cpp
     ${PROJECT_SOURCE_DIR}/src/graph/*.cpp)
list(REMOVE_ITEM KORVANE_SHELL_SOURCES ${PROJECT_SOURCE_DIR}/src/app/win/main.cpp)
add_library(korvane_shell STATIC ${KORVANE_SHELL_SOURCES})
target_compile_options(korvane_shell PRIVATE ${KORVANE_WARNINGS})
target_link_libraries(korvane_shell PUBLIC korvane_core_win strmiids ole32 oleaut32 uuid comctl32
                      comdlg32 shell32 shlwapi user32 gdi32 advapi32 winmm)

include(${PROJECT_SOURCE_DIR}/cmake/subtitles.cmake)
korvane_subtitles_variant(korvane_subtitles_win)

set(KORVANE_RESOURCES ${PROJECT_SOURCE_DIR}/src/res/korvane.rc)
# windres reports no dependencies, so an edit of an included script would leave the program
# with its old menus and dialogs.
file(GLOB KORVANE_RESOURCE_PARTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/res/*.rc
     ${PROJECT_SOURCE_DIR}/src/res/*.h ${PROJECT_SOURCE_DIR}/src/res/*.ico
     ${PROJECT_SOURCE_DIR}/src/res/*.manifest)
list(REMOVE_ITEM KORVANE_RESOURCE_PARTS ${KORVANE_RESOURCES})
set_source_files_properties(${KORVANE_RESOURCES} PROPERTIES INCLUDE_DIRECTORIES
                            ${KORVANE_GENERATED_DIR} OBJECT_DEPENDS "${KORVANE_RESOURCE_PARTS}")
add_executable(korvane-tv WIN32 ${PROJECT_SOURCE_DIR}/src/app/win/main.cpp ${KORVANE_RESOURCES})
target_include_directories(korvane-tv PRIVATE ${KORVANE_INCLUDE_DIR} ${PROJECT_SOURCE_DIR}/src/res)
target_compile_options(korvane-tv PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${KORVANE_WARNINGS}>)
# No link time in the PE header: two builds of the same sources give the same program.
target_link_options(korvane-tv PRIVATE -municode -Wl,--no-insert-timestamp)
target_link_libraries(korvane-tv PRIVATE korvane_shell korvane_subtitles_win)

# Data files the program reads from its working directory, shipped next to it.
file(GLOB KORVANE_DATA_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/*)
foreach(data_file ${KORVANE_DATA_FILES})
    configure_file(${data_file} ${PROJECT_BINARY_DIR} COPYONLY)
endforeach()

# GoogleTest cross-built from Debian's sources.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

function(korvane_win_test name)
    cmake_parse_arguments(ARG "SERIAL" "" "SOURCES;RESOURCES;PROPERTIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES} ${ARG_RESOURCES})
    target_include_directories(${name} PRIVATE ${KORVANE_INCLUDE_DIR} ${PROJECT_SOURCE_DIR}/src/res
                                               ${PROJECT_SOURCE_DIR}/tests/win)
    target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${KORVANE_WARNINGS}>)
    target_compile_definitions(${name} PRIVATE
        KORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KORVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
    target_link_libraries(${name} PRIVATE korvane_shell korvane_subtitles_win korvane_support_win gtest
                          gmock gtest_main)
    add_dependencies(${name} korvane-tv)
    set(props LABELS wine ${ARG_PROPERTIES})
    if(ARG_SERIAL)
        list(APPEND props RUN_SERIAL TRUE)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES ${props})
endfunction()

# In-process tests of the Windows shell (may run in parallel).
file(GLOB WIN_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win/*.cpp)
if(WIN_TEST_SOURCES)
    korvane_win_test(win_tests SOURCES ${WIN_TEST_SOURCES} RESOURCES ${KORVANE_RESOURCES})
    # The guide's local clock texts under fixed-offset zones: Wine takes the zone from TZ.
    foreach(zone Asia/Kolkata Etc/GMT-2)
        set(zone_test SystemTimeConverterZone.GuideTextsAreTheZonesClock.${zone})
        add_test(NAME ${zone_test}
                 COMMAND win_tests --gtest_filter=SystemTimeConverterZone.GuideTextsAreTheZonesClock)
        set_tests_properties(${zone_test} PROPERTIES ENVIRONMENT TZ=${zone} LABELS wine
                             FAIL_REGULAR_EXPRESSION "SKIPPED")
    endforeach()
endif()
# Tests that start the program itself: one at a time, since it is a single-instance program.
file(GLOB PROGRAM_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win_program/*.cpp)
if(PROGRAM_TEST_SOURCES)
    korvane_win_test(program_tests SERIAL SOURCES ${PROGRAM_TEST_SOURCES})
endif()

include(${PROJECT_SOURCE_DIR}/cmake/package.cmake)

if(EXISTS ${PROJECT_SOURCE_DIR}/testbed/CMakeLists.txt)
    add_subdirectory(${PROJECT_SOURCE_DIR}/testbed ${PROJECT_BINARY_DIR}/testbed)
    include(${PROJECT_SOURCE_DIR}/tests/e2e/user_session.cmake)
endif()

# The helper the scripts under tools/drive/ talk to.
add_subdirectory(${PROJECT_SOURCE_DIR}/tools/drive ${PROJECT_BINARY_DIR}/drive)
