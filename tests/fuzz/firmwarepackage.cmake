# The firmware package reader, fed files that are re-signed with the package key so that the
# digest lets them through and the package and descriptor walk is what gets fuzzed.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(Qt6 COMPONENTS Core REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ISAL REQUIRED IMPORTED_TARGET libisal)
pellworth_fuzzer(fuzz_firmwarepackage
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_firmwarepackage.cpp
            ${CMAKE_SOURCE_DIR}/usb/firmware/firmwarepackage.cpp
            ${CMAKE_SOURCE_DIR}/usb/firmware/firmwarepackageentry.cpp
            ${CMAKE_SOURCE_DIR}/usb/firmware/firmwarelog.cpp
            ${CMAKE_SOURCE_DIR}/usb/firmware/sha256withprefix.cpp
            ${CMAKE_SOURCE_DIR}/usb/firmware/codeclibraries.cpp
    LIBS PkgConfig::ISAL OpenSSL::Crypto Qt6::Core)
