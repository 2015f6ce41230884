# The app is built as one static library per folder ("layer"). A layer's include root holds only its
# own folder, and it sees the folders of the layers it links, so "#include "Audio/X.h"" from a layer
# that may not use Audio fails to compile.
function(dovrin_layer name)
    cmake_parse_arguments(L "" "FOLDER" "DEPENDS;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    set(dir ${CMAKE_CURRENT_SOURCE_DIR}/${L_FOLDER})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h ${dir}/*.qrc)
    set(root ${CMAKE_BINARY_DIR}/layers/${name})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${dir} ${root}/${L_FOLDER} SYMBOLIC)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${root})
    target_link_libraries(${name} PUBLIC ${L_DEPENDS} ${L_PUBLIC_LIBS} dovrin_flags PRIVATE ${L_PRIVATE_LIBS})
    set_property(GLOBAL APPEND PROPERTY DOVRIN_LAYER_FOLDERS ${dir})
endfunction()

# Only Platform speaks to the system's libraries (X11, the sound server, Tesseract, PocketSphinx,
# FFmpeg): checked at every build by cmake/CheckSystemIncludes.cmake. `exceptions` names files (relative
# to this folder) that may still do so.
function(dovrin_check_system_includes platform_dir)
    cmake_parse_arguments(C "" "" "EXCEPTIONS" ${ARGN})
    get_property(folders GLOBAL PROPERTY DOVRIN_LAYER_FOLDERS)
    set(sources "")
    foreach(folder ${folders})
        file(GLOB_RECURSE files CONFIGURE_DEPENDS ${folder}/*.cpp ${folder}/*.h)
        list(APPEND sources ${files})
    endforeach()
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/system-includes.checked)
    list(JOIN folders "|" folder_arg)
    list(JOIN C_EXCEPTIONS "|" exception_arg)
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} "-DPLATFORM=${platform_dir}" "-DFOLDERS=${folder_arg}"
                "-DBASE=${CMAKE_CURRENT_SOURCE_DIR}" "-DEXCEPTIONS=${exception_arg}" "-DSTAMP=${stamp}"
                -P ${PROJECT_SOURCE_DIR}/cmake/CheckSystemIncludes.cmake
        DEPENDS ${sources} ${PROJECT_SOURCE_DIR}/cmake/CheckSystemIncludes.cmake
        COMMENT "Checking that only Platform uses the system libraries" VERBATIM)
    add_custom_target(dovrin_system_includes ALL DEPENDS ${stamp})
endfunction()
