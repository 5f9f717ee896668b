# The block-protocol parser, serializer and FIRMWARE UPDATE conversions.
find_package(Qt6 COMPONENTS Core)
if(Qt6Core_FOUND)
    set(_transport ${CMAKE_SOURCE_DIR}/plugins/webview/transport)
    pellworth_fuzzer(fuzz_blockprotocol
        SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_blockprotocol.cpp
            ${_transport}/block.cpp ${_transport}/blockparser.cpp ${_transport}/asciicase.cpp
            ${_transport}/typedblock.cpp ${_transport}/firmwareupdateblock.cpp
        LIBS Qt6::Core)
endif()
