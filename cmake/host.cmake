# Host build: the product sources against the stand-in layer and the simulated PC, under
# AddressSanitizer and UBSan. With NORVANE_FUZZ (a separate build directory, clang) it builds the
# libFuzzer targets of cmake/fuzz.cmake instead of the tools and tests.
option(NORVANE_FUZZ "Build the libFuzzer targets (needs clang) instead of the tools and tests" OFF)

option(NORVANE_SANITIZE "Build under AddressSanitizer and UBSan (off only for benchmarks)" ON)

set(SANITIZE)
if(NORVANE_SANITIZE OR NORVANE_FUZZ)
    set(SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
endif()
if(NORVANE_FUZZ)
    # Coverage instrumentation everywhere; the fuzz targets link libFuzzer's own main.
    list(APPEND SANITIZE -fsanitize=fuzzer-no-link)
    add_compile_options(-O1)
endif()
# GCC 12's libstdc++ gives false -Wrestrict reports on std::string assignment at -O2 (GCC bug
# 105651); the optimised benchmark build would otherwise fail on them.
add_compile_options(${WARNINGS} -g ${SANITIZE})
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-restrict) # clang knows no such option
endif()
add_link_options(${SANITIZE})

file(GLOB HOST_PLATFORM_SOURCES CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/platform/host/*.cpp
    ${CMAKE_SOURCE_DIR}/sim/*.cpp)

add_library(product STATIC ${PRODUCT_SOURCES})
target_include_directories(product PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)
target_compile_options(product PRIVATE ${PRODUCT_WARNINGS})

add_library(host_platform STATIC ${HOST_PLATFORM_SOURCES})
target_include_directories(host_platform PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform)

# The product and its platform call each other; link them as one group.
add_library(simulated_product INTERFACE)
target_link_libraries(simulated_product INTERFACE
    "-Wl,--start-group" product host_platform "-Wl,--end-group")

# Shared by the tests, the soak tool and the fuzz targets: record reset, images, scratch folders.
file(GLOB TOOL_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/common/*.cpp)
add_library(tool_support STATIC ${TOOL_SUPPORT_SOURCES})
target_include_directories(tool_support PUBLIC ${CMAKE_SOURCE_DIR}/tests/tools)
target_link_libraries(tool_support PUBLIC simulated_product)

if(NOT NORVANE_FUZZ)
    add_executable(fwsim ${CMAKE_SOURCE_DIR}/tools/fwsim/fwsim.cpp)
    target_link_libraries(fwsim PRIVATE simulated_product)

    add_executable(fwimage ${CMAKE_SOURCE_DIR}/tools/fwimage/fwimage.cpp
        ${CMAKE_SOURCE_DIR}/tools/fwimage/sha256.cpp ${IMAGE_FORMAT_SOURCES})
    target_include_directories(fwimage PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform
        ${CMAKE_SOURCE_DIR}/tools)

    # One default silent update, measured (make bench), and exhaustive fault injection (make
    # soak): each built by its own target, not by make build and make test, which need neither.
    add_executable(fwbench EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/tools/fwbench/fwbench.cpp)
    target_link_libraries(fwbench PRIVATE tool_support)

    add_executable(fwsoak EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/tools/fwsoak/fwsoak.cpp)
    target_link_libraries(fwsoak PRIVATE tool_support)

    find_package(GTest REQUIRED)
    file(GLOB UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
    add_executable(unit_tests ${UNIT_TEST_SOURCES})
    target_link_libraries(unit_tests PRIVATE tool_support GTest::gtest GTest::gtest_main)
    # Reference wire traces, and where a test run leaves the traces it recorded.
    target_compile_definitions(unit_tests PRIVATE
        NORVANE_GOLDEN_DIR="${CMAKE_SOURCE_DIR}/tests/golden"
        NORVANE_TRACE_OUT_DIR="${CMAKE_BINARY_DIR}/traces")

    # The unit tests run in one process a shard, two shards side by side: a process of their own
    # for each of some 800 tests would cost twice their own time in starting the sanitizers. One
    # test runs by its name with unit_tests --gtest_filter=NAME (docs/development.md).
    enable_testing()
    set(UNIT_TEST_SHARDS 2)
    math(EXPR LAST_UNIT_TEST_SHARD "${UNIT_TEST_SHARDS} - 1")
    foreach(shard RANGE ${LAST_UNIT_TEST_SHARD})
        add_test(NAME unit_tests_shard_${shard} COMMAND unit_tests --gtest_brief=1)
        set_tests_properties(unit_tests_shard_${shard} PROPERTIES ENVIRONMENT
            "GTEST_TOTAL_SHARDS=${UNIT_TEST_SHARDS};GTEST_SHARD_INDEX=${shard}")
    endforeach()

    # The tools as a user meets them: --help on standard output with exit 0, and a folder given
    # to "fwimage info" refused with one line and exit 1 (not a crash).
    add_test(NAME fwsim_help COMMAND fwsim --help)
    set_tests_properties(fwsim_help PROPERTIES PASS_REGULAR_EXPRESSION "usage: fwsim")
    add_test(NAME fwsim_bad_option_is_one_line
             COMMAND sh -c "\"$0\" --no-such-option 2>&1 >/dev/null | { read -r line && ! read -r more && test \"$line\" = 'fwsim: unknown option --no-such-option (fwsim --help shows the usage)'; }"
                     $<TARGET_FILE:fwsim>)
    # Words that are not UTF-8 reach no run: one line on standard error and exit 2.
    add_test(NAME fwsim_refuses_words_that_are_not_utf8
             COMMAND sh -c "\"$0\" /s \"$(printf 'fw\\303.log')\" 2>&1 >/dev/null | { read -r line && ! read -r more && test \"$line\" = 'fwsim: the words are not valid UTF-8'; } && { \"$0\" /s \"$(printf 'fw\\303.log')\" >/dev/null 2>&1; test $? -eq 2; }"
                     $<TARGET_FILE:fwsim>)
    # The product's folders include one another one way only.
    add_test(NAME includes_run_one_way COMMAND sh ${CMAKE_SOURCE_DIR}/tests/include_directions.sh)
    add_test(NAME fwimage_help COMMAND fwimage --help)
    set_tests_properties(fwimage_help PROPERTIES PASS_REGULAR_EXPRESSION "usage: fwimage make")
    # "fwimage info" prints the SHA-256 a technician compares with a package's SHA256SUMS.
    add_test(NAME fwimage_info_sha256
             COMMAND sh -c "cd \"$1\" && \"$0\" make sha256-check.bin >/dev/null && \"$0\" info sha256-check.bin | grep -qx \"SHA-256: $(sha256sum sha256-check.bin | cut -d' ' -f1)\""
                     $<TARGET_FILE:fwimage> ${CMAKE_BINARY_DIR})
    # The detection rule's value: the version's digits as one hexadecimal number (3.20: 0x320).
    add_test(NAME fwimage_prints_the_detection_code
             COMMAND sh -c "cd \"$1\" && \"$0\" make code-check.bin --version 3.20 | grep -qx 'Detection: FirmwareVersionCode >= 800.' && \"$0\" info code-check.bin | grep -qx 'Detection: FirmwareVersionCode >= 800.'"
                     $<TARGET_FILE:fwimage> ${CMAKE_BINARY_DIR})
    add_test(NAME fwimage_info_refuses_a_folder
             COMMAND sh -c "\"$0\" info \"$1\"; test $? -eq 1" $<TARGET_FILE:fwimage>
                     ${CMAKE_BINARY_DIR})
endif()

include(${CMAKE_SOURCE_DIR}/cmake/fuzz.cmake)
