# Replies of a web-view recorder that its USB transports parse: key/value descriptor and
# values, string descriptors, DFU status and functional descriptor, streaming reply chunks.
set(_transport ${CMAKE_SOURCE_DIR}/plugins/webview/transport)
pellworth_fuzzer(fuzz_usbreplies
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_usbreplies.cpp
            ${_transport}/usbqueryreply.cpp ${_transport}/usbstringdescriptor.cpp
            ${_transport}/dfustatus.cpp ${_transport}/dfufunctionaldescriptor.cpp
            ${_transport}/streamingreplychunk.cpp)
