# NorvaneFwUpdaterSim.exe: the product sources and resources of NorvaneFwUpdater.exe, compiled
# with the same flags, with the simulated PC in place of the HID device calls only (SetupAPI
# enumeration, device opens, HidD_* and HidP_*). The window tests under Wine drive its real boxes
# and dialog through a full simulated update. Test-only: it lands in build/windows/sim/ and never
# ships. docs/window-tests.md describes it.
option(NORVANE_WINE_SIM_BUILD "Build NorvaneFwUpdaterSim.exe for the Wine window tests" ON)
if(NOT NORVANE_WINE_SIM_BUILD)
    return()
endif()

# The scenario reader needs nlohmann-json, a header-only library of the host. The MinGW compiler
# must not see the host's /usr/include as a whole, so it gets a folder that holds only a link to
# the library's headers.
find_path(NORVANE_JSON_INCLUDE_DIR nlohmann/json.hpp
    PATHS /usr/include /usr/local/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT NORVANE_JSON_INCLUDE_DIR)
    message(WARNING "nlohmann/json.hpp not found (Debian package nlohmann-json3-dev): "
                    "NorvaneFwUpdaterSim.exe is not built")
    return()
endif()
set(SIM_JSON_INCLUDE ${CMAKE_BINARY_DIR}/sim-include)
file(MAKE_DIRECTORY ${SIM_JSON_INCLUDE})
file(CREATE_LINK ${NORVANE_JSON_INCLUDE_DIR}/nlohmann ${SIM_JSON_INCLUDE}/nlohmann SYMBOLIC)

# The controller model, the scenario reader and the SetupAPI and HID call logic, portable C++
# shared with the host build, and the Windows side of the simulation.
set(SIM_MODEL_SOURCES
    ${CMAKE_SOURCE_DIR}/platform/sim/controller.cpp
    ${CMAKE_SOURCE_DIR}/platform/sim/hid_device.cpp
    ${CMAKE_SOURCE_DIR}/platform/sim/device_interface.cpp
    ${CMAKE_SOURCE_DIR}/platform/sim/setupapi_lists.cpp
    ${CMAKE_SOURCE_DIR}/platform/sim/hid_calls.cpp
    ${CMAKE_SOURCE_DIR}/platform/sim/device_scenario.cpp
    ${CMAKE_SOURCE_DIR}/platform/sim/scenario.cpp)
file(GLOB SIM_WINDOWS_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/windows/sim_*.cpp)

# How the release exe loads its system DLLs, when the build has that; the HID side of it is what
# the simulation replaces, so it stays out.
set(SIM_SYSTEM_DLL_SOURCES)
if(DEFINED WINDOWS_SYSTEM_DLL_SOURCES)
    set(SIM_SYSTEM_DLL_SOURCES ${WINDOWS_SYSTEM_DLL_SOURCES})
endif()

add_executable(NorvaneFwUpdaterSim WIN32 ${PRODUCT_SOURCES} ${RESOURCE_SCRIPT}
    ${SIM_SYSTEM_DLL_SOURCES} ${SIM_MODEL_SOURCES} ${SIM_WINDOWS_SOURCES})
add_dependencies(NorvaneFwUpdaterSim program_icons)
target_include_directories(NorvaneFwUpdaterSim PRIVATE
    ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform ${CMAKE_SOURCE_DIR}/ui ${ICON_DIR}
    ${SIM_JSON_INCLUDE})
target_link_options(NorvaneFwUpdaterSim PRIVATE -municode ${STATIC_RUNTIME})

# The release exe's libraries without the two the simulation stands in for: no setupapi or hid
# import library is linked, so nothing of the program can reach a real device.
get_target_property(SIM_LINK_LIBRARIES NorvaneFwUpdater LINK_LIBRARIES)
if(NOT SIM_LINK_LIBRARIES)
    set(SIM_LINK_LIBRARIES)
endif()
list(REMOVE_ITEM SIM_LINK_LIBRARIES setupapi hid)
target_link_libraries(NorvaneFwUpdaterSim PRIVATE ${SIM_LINK_LIBRARIES})
set_target_properties(NorvaneFwUpdaterSim PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sim)
