# The recorder's three forms checked with ffmpeg/ffprobe and coreutils on generated streams.
add_test(NAME recorder_checks
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/scripts/recorder_checks.sh
                 $<TARGET_FILE:ts-inspect> ${PROJECT_BINARY_DIR}/recorder-checks
                 $<TARGET_FILE:muxgen> ${PROJECT_SOURCE_DIR}/tests/scripts/recorder_pcr.mux)
set_tests_properties(recorder_checks PROPERTIES LABELS script TIMEOUT 300)
