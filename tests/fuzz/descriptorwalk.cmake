pellworth_fuzzer(fuzz_descriptorwalk
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_descriptorwalk.cpp
            ${CMAKE_SOURCE_DIR}/usb/driver/descriptorwalk.cpp)
