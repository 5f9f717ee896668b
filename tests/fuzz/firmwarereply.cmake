# The JSON replies of a network recorder's firmware endpoints (update start, firmware info).
find_package(Qt6 COMPONENTS Core REQUIRED)
pellworth_fuzzer(fuzz_firmwarereply
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/fuzz_firmwarereply.cpp
        ${CMAKE_SOURCE_DIR}/plugins/webview/firmwarereply.cpp
    LIBS Qt6::Core)
