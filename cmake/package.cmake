# Distribution for Windows users: the per-user installer and the portable zip, made by
# packaging/make_dist.py into dist/, and the tests that install, start and uninstall them
# under Wine in a prefix of their own.
find_program(MAKENSIS makensis)
find_package(Python3 COMPONENTS Interpreter)
if(NOT MAKENSIS OR NOT Python3_Interpreter_FOUND)
    message(WARNING "makensis or python3 missing (scripts/setup.sh installs them): no package target")
    return()
endif()

set(KORVANE_DIST_DIR ${PROJECT_BINARY_DIR}/dist)
set(KORVANE_SETUP ${KORVANE_DIST_DIR}/korvane-tv-${KORVANE_VERSION_TEXT}-setup.exe)
set(KORVANE_MAKE_DIST ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/packaging/make_dist.py
    --source-dir ${PROJECT_SOURCE_DIR} --exe $<TARGET_FILE:korvane-tv> --strip ${CMAKE_STRIP}
    --makensis ${MAKENSIS} --publisher ${KORVANE_PUBLISHER}
    --legal-copyright ${KORVANE_LEGAL_COPYRIGHT}
    --libavcodec-dir ${KORVANE_SUBTITLES_AVCODEC}
    --libavcodec-source-version ${KORVANE_SUBTITLES_AVCODEC_SOURCE})

# Runs on every build, quickly: the dates in the outputs follow the checked-out commit, which
# no file dependency would notice.
add_custom_target(package ALL
    COMMAND ${KORVANE_MAKE_DIST} --version ${PROJECT_VERSION} --version-text ${KORVANE_VERSION_TEXT}
            --out-dir ${KORVANE_DIST_DIR} --work-dir ${PROJECT_BINARY_DIR}/dist-work
    DEPENDS korvane-tv
    COMMENT "Installer and portable zip in ${KORVANE_DIST_DIR}"
    VERBATIM)

# Two runs give the same bytes, and the zip holds what the installer installs.
add_test(NAME package_reproducible
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/scripts/package_checks.py
                 ${KORVANE_MAKE_DIST} --version ${PROJECT_VERSION}
                 --version-text ${KORVANE_VERSION_TEXT})
set_tests_properties(package_reproducible PROPERTIES LABELS package)

file(GLOB INSTALLER_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win_installer/*.cpp)
if(NOT INSTALLER_TEST_SOURCES)
    return()
endif()

# An installer of an older version, to install over.
set(KORVANE_OLD_SETUP ${PROJECT_BINARY_DIR}/installer-test/korvane-tv-0.0a-setup.exe)
file(GLOB KORVANE_PACKAGING_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/*)
add_custom_command(OUTPUT ${KORVANE_OLD_SETUP}
    COMMAND ${KORVANE_MAKE_DIST} --version 0.0.0 --version-text 0.0a --no-zip
            --out-dir ${PROJECT_BINARY_DIR}/installer-test
            --work-dir ${PROJECT_BINARY_DIR}/installer-test/work
    DEPENDS korvane-tv ${KORVANE_PACKAGING_FILES}
    VERBATIM)
add_custom_target(installer_test_package DEPENDS ${KORVANE_OLD_SETUP})

# The installer tests change their prefix's user (files, shortcuts, uninstall entries): they
# get a prefix of their own, made afresh once per test run, and take turns in it.
set(INSTALLER_WINE_ROOT ${PROJECT_BINARY_DIR}/wine-installer)
set(INSTALLER_PREFIX_SCRIPT ${PROJECT_SOURCE_DIR}/tests/win_installer/installer_prefix.sh)
add_test(NAME installer_prefix_make
         COMMAND bash ${INSTALLER_PREFIX_SCRIPT} make ${INSTALLER_WINE_ROOT}
                 ${PROJECT_BINARY_DIR}/wine-run.sh)
add_test(NAME installer_prefix_stop COMMAND bash ${INSTALLER_PREFIX_SCRIPT} stop ${INSTALLER_WINE_ROOT})
set_tests_properties(installer_prefix_make PROPERTIES FIXTURES_SETUP installer_prefix LABELS wine)
set_tests_properties(installer_prefix_stop PROPERTIES FIXTURES_CLEANUP installer_prefix LABELS wine)

korvane_win_test(installer_tests SOURCES ${INSTALLER_TEST_SOURCES}
                 PROPERTIES ENVIRONMENT KORVANE_WINE_ROOT=${INSTALLER_WINE_ROOT}
                            FIXTURES_REQUIRED installer_prefix RESOURCE_LOCK installer_prefix)
target_include_directories(installer_tests PRIVATE ${KORVANE_GENERATED_DIR})
target_link_libraries(installer_tests PRIVATE version)
target_compile_definitions(installer_tests PRIVATE KORVANE_SETUP="${KORVANE_SETUP}"
                           KORVANE_OLD_SETUP="${KORVANE_OLD_SETUP}")
add_dependencies(installer_tests package installer_test_package)
