pellworth_fuzzer(fuzz_deckcontrollerreplies
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_deckcontrollerreplies.cpp
            ${CMAKE_SOURCE_DIR}/plugins/deckcontroller/deckcontrollerreplies.cpp)
