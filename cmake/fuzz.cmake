# Fuzz targets (tests/fuzz). With NORVANE_FUZZ (clang, build/fuzz) each becomes a libFuzzer
# program fuzz_NAME; in the normal host build each becomes fuzz_replay_NAME, a g++ driver that
# replays the target's checked-in regression inputs and seed corpus as a ctest.
set(FUZZ_TARGET_NAMES arguments image settings controller)
set(FUZZ_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz)

foreach(name IN LISTS FUZZ_TARGET_NAMES)
    set(sources ${FUZZ_DIR}/fuzz_${name}.cpp ${FUZZ_DIR}/fuzz_support.cpp)
    if(NORVANE_FUZZ)
        add_executable(fuzz_${name} ${sources})
        target_link_libraries(fuzz_${name} PRIVATE tool_support)
        target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    else()
        add_executable(fuzz_replay_${name} ${sources} ${FUZZ_DIR}/replay_main.cpp)
        target_link_libraries(fuzz_replay_${name} PRIVATE tool_support)
        add_test(NAME fuzz_replay_${name}
                 COMMAND fuzz_replay_${name} ${FUZZ_DIR}/regressions/${name}
                         ${FUZZ_DIR}/corpus/${name})
    endif()
endforeach()
