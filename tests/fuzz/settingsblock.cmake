# The recorder settings block and the record parser over it.
pellworth_fuzzer(fuzz_settingsblock
    SOURCES
        ${CMAKE_CURRENT_SOURCE_DIR}/settingsblock_fuzz.cpp
        ${CMAKE_SOURCE_DIR}/plugins/recorder/settingsblock.cpp
        ${CMAKE_SOURCE_DIR}/plugins/recorder/kestrelsettings.cpp
        ${CMAKE_SOURCE_DIR}/plugins/recorder/idevice.cpp
        ${CMAKE_SOURCE_DIR}/plugins/recorder/ikestreldrsettingsdevice.cpp)
