pellworth_fuzzer(fuzz_fx2firmwareimage
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_fx2firmwareimage.cpp
            ${CMAKE_SOURCE_DIR}/usb/fx2/fx2firmwareimage.cpp)
