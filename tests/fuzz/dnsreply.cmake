# The unicast DNS reply parser and the TXT parser that reads its TXT data.
find_package(Qt6 COMPONENTS Core REQUIRED)
pellworth_fuzzer(fuzz_dnsreply
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/fuzz_dnsreply.cpp
        ${CMAKE_SOURCE_DIR}/discovery/bonjourinfo.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dnsadditionalrecord.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dnshostaddressrecord.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dnsmessage.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dnsreader.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dnsreply.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dnssrvrecord.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dnstxtrecord.cpp
    LIBS Qt6::Core)
