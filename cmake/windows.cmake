# Windows build: real Win32 calls, static runtime, resources from the .rc script.
enable_language(RC)
add_compile_options(${WARNINGS} -municode -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN)
# No MinGW runtime DLL may be needed beside the exe: libgcc, libstdc++ and winpthread are linked
# in. What is left to import are system DLLs only (KERNEL32, USER32, msvcrt, SETUPAPI, ...).
set(STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# Reproducible: two builds of one commit in different folders give the same bytes. Source and
# build folders are written as "." and "build" wherever a path would reach the binary, and the
# linker writes no time stamp into the PE headers (time stamp 0).
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
    -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
add_link_options(-Wl,--no-insert-timestamp)

# Icons are drawn by our own script at build time; the resource compiler finds them, and the
# manifest, through its include path.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(ICON_FILES ${ICON_DIR}/app16.ico ${ICON_DIR}/app32.ico)
add_custom_command(
    OUTPUT ${ICON_FILES}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/make_icons.py ${ICON_DIR}
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/make_icons.py
    COMMENT "Drawing the program icons"
    VERBATIM)
add_custom_target(program_icons DEPENDS ${ICON_FILES})

set(RESOURCE_SCRIPT ${CMAKE_SOURCE_DIR}/ui/NorvaneFwUpdater.rc)
set_source_files_properties(${RESOURCE_SCRIPT} PROPERTIES
    OBJECT_DEPENDS "${ICON_FILES};${CMAKE_SOURCE_DIR}/ui/resource_ids.h;${CMAKE_SOURCE_DIR}/ui/NorvaneFwUpdater.manifest")

# DLLs that are not KnownDLLs are not imported: the exe loads them itself, from the system
# directory only, after restricting the process's DLL search to it (docs/architecture.md,
# "Loading system DLLs"). user32.dll and setupapi.dll are loaded the same way, for the DLLs they
# import. The device side (SetupAPI and HID) is a list of its own so that a build with other
# device functions can take the rest. Left to import: KERNEL32 and msvcrt.
set(WINDOWS_SYSTEM_DLL_SOURCES
    ${CMAKE_SOURCE_DIR}/platform/windows/dll_search_order.cpp
    ${CMAKE_SOURCE_DIR}/platform/windows/load_user32.cpp
    ${CMAKE_SOURCE_DIR}/platform/windows/load_version.cpp
    ${CMAKE_SOURCE_DIR}/platform/windows/load_comctl32.cpp)
set(WINDOWS_HID_SOURCES
    ${CMAKE_SOURCE_DIR}/platform/windows/load_setupapi.cpp
    ${CMAKE_SOURCE_DIR}/platform/windows/load_hid.cpp)

add_executable(NorvaneFwUpdater WIN32 ${PRODUCT_SOURCES} ${WINDOWS_SYSTEM_DLL_SOURCES}
    ${WINDOWS_HID_SOURCES} ${RESOURCE_SCRIPT})
add_dependencies(NorvaneFwUpdater program_icons)
target_include_directories(NorvaneFwUpdater PRIVATE
    ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform ${CMAKE_SOURCE_DIR}/ui ${ICON_DIR})
target_link_options(NorvaneFwUpdater PRIVATE -municode ${STATIC_RUNTIME})

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
    foreach(planted hid version comctl32)
        add_library(planted_${planted} MODULE ${CMAKE_SOURCE_DIR}/tests/tools/wine/planted_dll.c)
        string(TOUPPER ${planted} planted_upper)
        target_compile_definitions(planted_${planted} PRIVATE PLANTED_${planted_upper})
        target_link_options(planted_${planted} PRIVATE ${STATIC_RUNTIME})
        set_target_properties(planted_${planted} PROPERTIES
            PREFIX "" OUTPUT_NAME ${planted}
            LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools/planted)
    endforeach()

    # The product as it would be with the DLLs imported: the planting test must catch it.
    add_executable(NorvaneFwUpdaterStaticImports WIN32 ${PRODUCT_SOURCES}
        ${CMAKE_SOURCE_DIR}/platform/windows/dll_search_order.cpp ${RESOURCE_SCRIPT})
    add_dependencies(NorvaneFwUpdaterStaticImports program_icons)
    target_include_directories(NorvaneFwUpdaterStaticImports PRIVATE
        ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform ${CMAKE_SOURCE_DIR}/ui ${ICON_DIR})
    target_link_options(NorvaneFwUpdaterStaticImports PRIVATE -municode ${STATIC_RUNTIME})
    target_link_libraries(NorvaneFwUpdaterStaticImports PRIVATE setupapi hid version comctl32)
    set_target_properties(NorvaneFwUpdaterStaticImports PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
endif()

# The virtual controller under Wine's HID stack, for the Wine system tests.
include(${CMAKE_SOURCE_DIR}/cmake/windows_vdev.cmake)
