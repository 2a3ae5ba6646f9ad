# The virtual touchpad controller under Wine's own HID stack, for the Wine system tests only: the
# kernel-mode HID minidriver norvane_vdev.sys with the controller model of sim compiled
# in, and vdevctl.exe that installs it as root devices. Both land in build/windows/tools/vdev/,
# are driven by tests/tools/wine/vdev and never ship; nothing of them is linked into the product.
option(NORVANE_WINE_VDEV "Build the virtual controller driver of the Wine system tests" ON)
if(NOT NORVANE_WINE_VDEV)
    return()
endif()

# The scenario reader needs nlohmann-json, a header-only library of the host. The MinGW compiler
# must not see the host's /usr/include as a whole, so it gets a folder that holds only a link to
# the library's headers.
find_path(NORVANE_VDEV_JSON_DIR nlohmann/json.hpp
    PATHS /usr/include /usr/local/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT NORVANE_VDEV_JSON_DIR)
    message(FATAL_ERROR "nlohmann/json.hpp not found (Debian package nlohmann-json3-dev): "
                        "the virtual controller driver cannot be built")
endif()
set(VDEV_JSON_INCLUDE ${CMAKE_BINARY_DIR}/vdev-include)
file(MAKE_DIRECTORY ${VDEV_JSON_INCLUDE})
file(CREATE_LINK ${NORVANE_VDEV_JSON_DIR}/nlohmann ${VDEV_JSON_INCLUDE}/nlohmann SYMBOLIC)

# MinGW's DDK headers include each other by bare name.
find_path(NORVANE_VDEV_DDK_DIR ntddk.h PATH_SUFFIXES ddk)
if(NOT NORVANE_VDEV_DDK_DIR)
    message(FATAL_ERROR "MinGW-w64's ddk/ntddk.h not found: the virtual controller driver "
                        "cannot be built")
endif()
set_source_files_properties(${CMAKE_SOURCE_DIR}/sim/vdev/vdev_kernel.c PROPERTIES
    INCLUDE_DIRECTORIES ${NORVANE_VDEV_DDK_DIR})

set(VDEV_DIR ${CMAKE_SOURCE_DIR}/sim/vdev)
set(VDEV_OUTPUT ${CMAKE_BINARY_DIR}/tools/vdev)
# The one controller model and the scenario reader, as fwsim has them.
set(VDEV_MODEL_SOURCES
    ${CMAKE_SOURCE_DIR}/sim/controller.cpp
    ${CMAKE_SOURCE_DIR}/sim/hid_device.cpp
    ${CMAKE_SOURCE_DIR}/sim/device_scenario.cpp
    ${CMAKE_SOURCE_DIR}/sim/scenario.cpp)
set(VDEV_INCLUDES ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform ${VDEV_JSON_INCLUDE} ${VDEV_DIR})

# A kernel-mode image that Wine's winedevice.exe loads: native subsystem, an entry point that
# tells Wine's DllMain call from ntoskrnl's DriverEntry call, hidclass and ntoskrnl imports.
add_library(norvane_vdev SHARED ${VDEV_DIR}/vdev_kernel.c ${VDEV_DIR}/vdev_model.cpp
    ${VDEV_MODEL_SOURCES})
target_include_directories(norvane_vdev PRIVATE ${VDEV_INCLUDES})
target_link_options(norvane_vdev PRIVATE ${STATIC_RUNTIME} -Wl,--subsystem,native
    -Wl,--entry,vdev_entry)
target_link_libraries(norvane_vdev PRIVATE hidclass ntoskrnl)
set_target_properties(norvane_vdev PROPERTIES PREFIX "" SUFFIX ".sys"
    RUNTIME_OUTPUT_DIRECTORY ${VDEV_OUTPUT} LIBRARY_OUTPUT_DIRECTORY ${VDEV_OUTPUT})

add_executable(vdevctl ${VDEV_DIR}/vdevctl.cpp ${VDEV_MODEL_SOURCES})
target_include_directories(vdevctl PRIVATE ${VDEV_INCLUDES})
target_link_options(vdevctl PRIVATE -municode ${STATIC_RUNTIME})
target_link_libraries(vdevctl PRIVATE newdev setupapi cfgmgr32)
set_target_properties(vdevctl PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VDEV_OUTPUT})
