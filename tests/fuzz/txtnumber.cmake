# The numbers a recorder's DNS-SD TXT values carry, read from arbitrary TXT data.
find_package(Qt6 COMPONENTS Core REQUIRED)
pellworth_fuzzer(fuzz_txtnumber
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/fuzz_txtnumber.cpp
        ${CMAKE_SOURCE_DIR}/discovery/records/bonjourinfo.cpp
        ${CMAKE_SOURCE_DIR}/plugins/webview/txtnumber.cpp
    LIBS Qt6::Core)
