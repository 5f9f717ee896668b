pellworth_fuzzer(fuzz_usbtunnelmessage
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_usbtunnelmessage.cpp
            ${CMAKE_SOURCE_DIR}/plugins/webview/transport/usbtunnelmessagereader.cpp
    LIBS Qt6::Core)
