# The DVB subtitle decoder (src/subtitles) over a minimal LGPL libavcodec holding only that
# decoder, built once per machine from Debian's ffmpeg source package and cached outside the
# tree (scripts/build_libavcodec.sh --subtitles): for Win64 in the Windows tree, for the host
# in the native one. Only what links a korvane_subtitles* library links libavcodec.
if(WIN32)
    set(KORVANE_SUBTITLES_TARGET win64)
    set(KORVANE_SUBTITLES_SYSTEM_LIBS bcrypt)
else()
    set(KORVANE_SUBTITLES_TARGET native)
    set(KORVANE_SUBTITLES_SYSTEM_LIBS m)
endif()
set(BUILD_SUBTITLE_LIBAVCODEC ${PROJECT_SOURCE_DIR}/scripts/build_libavcodec.sh --subtitles
    --target ${KORVANE_SUBTITLES_TARGET})
execute_process(COMMAND ${BUILD_SUBTITLE_LIBAVCODEC} --print-prefix
                OUTPUT_VARIABLE KORVANE_SUBTITLES_AVCODEC RESULT_VARIABLE subtitles_avcodec_missing
                OUTPUT_STRIP_TRAILING_WHITESPACE)
# The source package's version, which the distribution's note names.
execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/build_libavcodec.sh --print-version
                OUTPUT_VARIABLE KORVANE_SUBTITLES_AVCODEC_SOURCE OUTPUT_STRIP_TRAILING_WHITESPACE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/scripts/build_libavcodec.sh)
if(subtitles_avcodec_missing)
    message(FATAL_ERROR "No ffmpeg source package known to apt: run scripts/setup.sh")
endif()
# Checked at every build (instantly when cached); never an output of the build, so that
# cleaning the tree keeps the machine's copy.
string(REPLACE ";" " " build_subtitle_libavcodec_command "${BUILD_SUBTITLE_LIBAVCODEC}")
add_custom_target(libavcodec_dvbsub
    COMMAND sh -c "[ -f '${KORVANE_SUBTITLES_AVCODEC}/COPYING.LGPLv2.1' ] || ${build_subtitle_libavcodec_command}"
    COMMENT "Looking for the subtitle decoder's libavcodec (built once per machine from Debian's sources)"
    USES_TERMINAL VERBATIM)

file(GLOB KORVANE_SUBTITLES_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/subtitles/*.cpp)

# One build of the decoder with the given flags (also applied to what links it).
function(korvane_subtitles_variant name)
    cmake_parse_arguments(ARG "" "" "FLAGS" ${ARGN})
    add_library(${name} STATIC ${KORVANE_SUBTITLES_SOURCES})
    target_include_directories(${name} PUBLIC ${KORVANE_INCLUDE_DIR})
    target_include_directories(${name} SYSTEM PRIVATE ${KORVANE_SUBTITLES_AVCODEC}/include)
    target_compile_options(${name} PUBLIC ${ARG_FLAGS} PRIVATE ${KORVANE_WARNINGS})
    target_link_options(${name} PUBLIC ${ARG_FLAGS})
    target_link_directories(${name} PUBLIC ${KORVANE_SUBTITLES_AVCODEC}/lib)
    target_link_libraries(${name} PUBLIC avcodec avutil ${KORVANE_SUBTITLES_SYSTEM_LIBS})
    add_dependencies(${name} libavcodec_dvbsub)
endfunction()
