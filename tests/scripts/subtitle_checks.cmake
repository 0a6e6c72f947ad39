# The subtitle decoder against ffmpeg's own decoding of the same streams: timings from
# ffprobe's subtitle frames, pictures as ffmpeg draws them on its canvas (sub2video).
add_executable(subtitle_checks_tool ${PROJECT_SOURCE_DIR}/tests/scripts/subtitle_checks_tool.cpp)
target_compile_options(subtitle_checks_tool PRIVATE ${KORVANE_WARNINGS})
target_include_directories(subtitle_checks_tool PRIVATE ${PROJECT_SOURCE_DIR}/tests/scripts)
target_link_libraries(subtitle_checks_tool PRIVATE korvane_subtitles korvane_support)

add_test(NAME subtitle_checks
         COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/scripts/subtitle_checks.py
                 $<TARGET_FILE:subtitle_checks_tool> ${PROJECT_BINARY_DIR}/subtitle-checks)
set_tests_properties(subtitle_checks PROPERTIES LABELS script TIMEOUT 300)
