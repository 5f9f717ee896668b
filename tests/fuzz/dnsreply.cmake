# The unicast DNS reply parser and the TXT parser that reads its TXT data.
find_package(Qt6 COMPONENTS Core REQUIRED)
pellworth_fuzzer(fuzz_dnsreply
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/fuzz_dnsreply.cpp
        ${CMAKE_SOURCE_DIR}/discovery/records/bonjourinfo.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dns/dnsadditionalrecord.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dns/dnshostaddressrecord.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dns/dnsmessage.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dns/dnsreader.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dns/dnsreply.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dns/dnssrvrecord.cpp
        ${CMAKE_SOURCE_DIR}/discovery/dns/dnstxtrecord.cpp
    LIBS Qt6::Core)
