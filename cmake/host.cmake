# Host build: the product sources against the stand-in layer and the simulated PC, under
# AddressSanitizer and UBSan.
set(SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
add_compile_options(${WARNINGS} -g ${SANITIZE})
add_link_options(${SANITIZE})

file(GLOB HOST_PLATFORM_SOURCES CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/platform/host/*.cpp
    ${CMAKE_SOURCE_DIR}/platform/sim/*.cpp)

add_library(product STATIC ${PRODUCT_SOURCES})
target_include_directories(product PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)

add_library(host_platform STATIC ${HOST_PLATFORM_SOURCES})
target_include_directories(host_platform PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)

# The product and its platform call each other; link them as one group.
add_library(simulated_product INTERFACE)
target_link_libraries(simulated_product INTERFACE
    "-Wl,--start-group" product host_platform "-Wl,--end-group")

add_executable(fwsim ${CMAKE_SOURCE_DIR}/tools/fwsim/fwsim.cpp)
target_link_libraries(fwsim PRIVATE simulated_product)

add_executable(fwimage ${CMAKE_SOURCE_DIR}/tools/fwimage/fwimage.cpp ${IMAGE_FORMAT_SOURCES})
target_include_directories(fwimage PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)

find_package(GTest REQUIRED)
file(GLOB UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(unit_tests ${UNIT_TEST_SOURCES})
target_link_libraries(unit_tests PRIVATE simulated_product GTest::gtest GTest::gtest_main)

enable_testing()
include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)
