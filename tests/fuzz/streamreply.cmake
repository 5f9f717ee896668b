pellworth_fuzzer(fuzz_streamreply
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_streamreply.cpp
            ${CMAKE_SOURCE_DIR}/usb/xmega/streamchunkassembler.cpp
            ${CMAKE_SOURCE_DIR}/usb/rpc/rpcmessage.cpp)
