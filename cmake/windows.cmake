# Windows build: real Win32 calls, static runtime, resources from the .rc script.
enable_language(RC)
add_compile_options(${WARNINGS} -municode -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN)
# No MinGW runtime DLL may be needed beside the exe: libgcc, libstdc++ and winpthread are linked
# in. What is left to import are system DLLs only: KERNEL32 and msvcrt (the others are loaded at
# run time, below).
set(STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# Reproducible: two builds of one commit in different folders give the same bytes. Source and
# build folders are written as "." and "build" wherever a path would reach the binary, and the
# linker writes no time stamp into the PE headers (time stamp 0).
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
    -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
add_link_options(-Wl,--no-insert-timestamp)

# Icons are drawn by our own script at build time; the resource compiler finds them, and the
# manifest made below, through its include path.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(ICON_FILES ${ICON_DIR}/app.ico ${ICON_DIR}/app-low-colour.ico)
add_custom_command(
    OUTPUT ${ICON_FILES}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/make_icons.py ${ICON_DIR}
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/make_icons.py
    COMMENT "Drawing the program icons"
    VERBATIM)
add_custom_target(program_icons DEPENDS ${ICON_FILES})

# The manifest's own version is the program's, read from its four numbers in ui/resource_ids.h by
# the same reader as the package name's; CMake reads them again whenever that file changes.
set(RESOURCE_IDS ${CMAKE_SOURCE_DIR}/ui/resource_ids.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${RESOURCE_IDS})
execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/release/make_docs.py version
    OUTPUT_VARIABLE NORVANE_VERSION OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(MANIFEST_DIR ${CMAKE_BINARY_DIR}/manifest)
configure_file(${CMAKE_SOURCE_DIR}/ui/NorvaneFwUpdater.manifest.in
    ${MANIFEST_DIR}/NorvaneFwUpdater.manifest @ONLY)

set(RESOURCE_SCRIPT ${CMAKE_SOURCE_DIR}/ui/NorvaneFwUpdater.rc)
set_source_files_properties(${RESOURCE_SCRIPT} PROPERTIES
    OBJECT_DEPENDS "${ICON_FILES};${RESOURCE_IDS};${MANIFEST_DIR}/NorvaneFwUpdater.manifest")

# The product's sources, the process's DLL search order and the resources, compiled once for the
# exe and for the Wine tests' variant of it.
add_library(product_objects OBJECT ${PRODUCT_SOURCES}
    ${CMAKE_SOURCE_DIR}/platform/windows/dll_search_order.cpp ${RESOURCE_SCRIPT})
add_dependencies(product_objects program_icons)
target_include_directories(product_objects PRIVATE
    ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform ${CMAKE_SOURCE_DIR}/ui ${ICON_DIR}
    ${MANIFEST_DIR})
# With debug information (it does not change the code), which the exe sheds after linking.
set(PRODUCT_DEBUG_INFO $<$<COMPILE_LANGUAGE:C,CXX>:-g>)
target_compile_options(product_objects PRIVATE ${PRODUCT_DEBUG_INFO}
    $<$<COMPILE_LANGUAGE:CXX>:${PRODUCT_WARNINGS}>)

# DLLs that are not KnownDLLs are not imported: the exe loads them itself, from the system
# directory only, after restricting the process's DLL search to it (docs/architecture.md,
# "Loading system DLLs"). user32.dll and setupapi.dll are loaded the same way, for the DLLs they
# import. Left to import: KERNEL32 and msvcrt.
add_executable(NorvaneFwUpdater WIN32 $<TARGET_OBJECTS:product_objects>
    ${CMAKE_SOURCE_DIR}/platform/windows/system_dlls.cpp)
target_include_directories(NorvaneFwUpdater PRIVATE
    ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)
target_compile_options(NorvaneFwUpdater PRIVATE ${PRODUCT_DEBUG_INFO})
target_link_options(NorvaneFwUpdater PRIVATE -municode ${STATIC_RUNTIME})

# The shipped exe carries no debug sections: they go to NorvaneFwUpdater.debug beside it, which
# the exe names (file name and CRC-32) in a .gnu_debuglink section for a debugger to find. objcopy
# stamps the PE files it writes with the current time; SOURCE_DATE_EPOCH=0 keeps the stamp 0, as
# the linker left it, so that the debug file, its CRC-32 in the exe and the exe stay reproducible.
set(DETERMINISTIC_OBJCOPY ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
add_custom_command(TARGET NorvaneFwUpdater POST_BUILD
    COMMAND ${DETERMINISTIC_OBJCOPY} --only-keep-debug NorvaneFwUpdater.exe NorvaneFwUpdater.debug
    COMMAND ${DETERMINISTIC_OBJCOPY} --strip-debug --add-gnu-debuglink=NorvaneFwUpdater.debug
            NorvaneFwUpdater.exe
    WORKING_DIRECTORY $<TARGET_FILE_DIR:NorvaneFwUpdater>
    COMMENT "Moving the debug sections of NorvaneFwUpdater.exe to NorvaneFwUpdater.debug"
    VERBATIM)

add_executable(fwimage ${CMAKE_SOURCE_DIR}/tools/fwimage/fwimage.cpp
    ${CMAKE_SOURCE_DIR}/tools/fwimage/sha256.cpp ${IMAGE_FORMAT_SOURCES})
target_include_directories(fwimage PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform
    ${CMAKE_SOURCE_DIR}/tools)
target_link_options(fwimage PRIVATE ${STATIC_RUNTIME})

# Small Windows programs that only the Wine system tests use; they land in build/windows/tools/
# and never ship.
option(NORVANE_WINE_TEST_TOOLS "Build the Windows helper programs of the Wine tests" ON)
if(NORVANE_WINE_TEST_TOOLS)
    file(GLOB WINE_TOOL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/wine/*.c)
    list(FILTER WINE_TOOL_SOURCES EXCLUDE REGEX "/planted_dll\\.c$")
    foreach(tool_source ${WINE_TOOL_SOURCES})
        get_filename_component(tool_name ${tool_source} NAME_WE)
        add_executable(${tool_name} ${tool_source})
        target_link_options(${tool_name} PRIVATE -municode ${STATIC_RUNTIME})
        target_link_libraries(${tool_name} PRIVATE gdi32) # fonts and text measuring
        set_target_properties(${tool_name} PROPERTIES
            RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
    endforeach()

    # DLLs of the planting test: one source built under the names of the DLLs the exe must only
    # take from the system directory, each with that DLL's exports, into tools/planted/.
    foreach(planted hid version comctl32 uxtheme)
        add_library(planted_${planted} MODULE ${CMAKE_SOURCE_DIR}/tests/tools/wine/planted_dll.c)
        string(TOUPPER ${planted} planted_upper)
        target_compile_definitions(planted_${planted} PRIVATE PLANTED_${planted_upper})
        target_link_options(planted_${planted} PRIVATE ${STATIC_RUNTIME})
        set_target_properties(planted_${planted} PROPERTIES
            PREFIX "" OUTPUT_NAME ${planted}
            LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools/planted)
    endforeach()

    # The product as it would be with the DLLs imported: the planting test must catch it.
    add_executable(NorvaneFwUpdaterStaticImports WIN32 $<TARGET_OBJECTS:product_objects>)
    target_link_options(NorvaneFwUpdaterStaticImports PRIVATE -municode ${STATIC_RUNTIME})
    target_link_libraries(NorvaneFwUpdaterStaticImports PRIVATE setupapi hid version comctl32 winmm)
    set_target_properties(NorvaneFwUpdaterStaticImports PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
endif()

# The virtual controller under Wine's HID stack, for the Wine system tests.
include(${CMAKE_SOURCE_DIR}/cmake/windows_vdev.cmake)
