# Every test runs without a display; in a sanitized build, sanitizer reports end the test
# with a stack, apart from the leaks of Qt's own that the suppressions list.
set(KIV3_TEST_ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
if(KIV3_SANITIZE)
    list(APPEND KIV3_TEST_ENVIRONMENT
        "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan-suppressions.txt:print_suppressions=0"
        "UBSAN_OPTIONS=print_stacktrace=1")
endif()

# kiv3_add_test(NAME SOURCES src... LIBRARIES lib... [LOCKS lock...] [LABELS label...])
# Builds one Qt Test program and registers it with CTest. LOCKS names resources that
# tests must not share at once (the agent's fixed ports, the private spooler).
function(kiv3_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;LOCKS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${ARG_LIBRARIES})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${KIV3_TEST_ENVIRONMENT}"
        TIMEOUT 300)
    if(ARG_LOCKS)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_LOCKS}")
    endif()
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()
