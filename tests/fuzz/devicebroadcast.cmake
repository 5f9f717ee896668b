pellworth_fuzzer(fuzz_devicebroadcast
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_devicebroadcast.cpp
            ${CMAKE_SOURCE_DIR}/platform/devicebroadcast.cpp
            ${CMAKE_SOURCE_DIR}/platform/guid.cpp)
