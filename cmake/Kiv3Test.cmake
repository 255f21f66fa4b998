# Every test runs without a display; in a sanitized build, sanitizer reports end the test
# with a stack, apart from the leaks of Qt's own that the suppressions list.
set(KIV3_TEST_ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
if(KIV3_SANITIZE)
    list(APPEND KIV3_TEST_ENVIRONMENT
        "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan-suppressions.txt:print_suppressions=0"
        "UBSAN_OPTIONS=print_stacktrace=1")
endif()

# Tests that serve on the agent's fixed ports run each in a network of its own where the
# machine allows it (Linux, as root or in a user namespace of the test's own), side by side;
# elsewhere they take turns through a lock. KIV3_AGENT_PORTS_RUNNER goes before such a test's
# command, KIV3_AGENT_PORTS_LOCK into its RESOURCE_LOCK.
set(KIV3_OWN_NETWORKS_DEFAULT OFF)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tests/support/in-own-network.sh true
        RESULT_VARIABLE KIV3_OWN_NETWORK_STATUS OUTPUT_QUIET ERROR_QUIET)
    if(KIV3_OWN_NETWORK_STATUS EQUAL 0)
        set(KIV3_OWN_NETWORKS_DEFAULT ON)
    endif()
endif()
option(KIV3_TEST_OWN_NETWORKS "Run the tests that serve on the agent's ports in networks of their own"
    ${KIV3_OWN_NETWORKS_DEFAULT})
if(KIV3_TEST_OWN_NETWORKS)
    set(KIV3_AGENT_PORTS_RUNNER ${PROJECT_SOURCE_DIR}/tests/support/in-own-network.sh)
    set(KIV3_AGENT_PORTS_LOCK "")
else()
    set(KIV3_AGENT_PORTS_RUNNER "")
    set(KIV3_AGENT_PORTS_LOCK agent_ports)
endif()

# A test program declares its classes in its one source, which includes their moc file. moc
# reads that source alone: with the compiler's predefined macros and Qt's platform macros
# (Q_OS_WIN and the like) it needs no other header for test classes, whose slots take no
# arguments. Through the include paths, as AUTOMOC runs it, it would parse every Qt header the
# source includes: a third of a processor-second a program, in each build.
if(NOT CMAKE_CXX_COMPILER_PREDEFINES_COMMAND)
    message(FATAL_ERROR "The test programs' moc needs the compiler's predefined macros: "
        "build the tests with g++ or clang")
endif()
set(KIV3_TEST_MOC_PREDEFINES ${CMAKE_BINARY_DIR}/kiv3_test_moc_predefines.h)
execute_process(COMMAND ${CMAKE_CXX_COMPILER_PREDEFINES_COMMAND}
    OUTPUT_FILE ${KIV3_TEST_MOC_PREDEFINES} RESULT_VARIABLE KIV3_PREDEFINES_STATUS)
if(NOT KIV3_PREDEFINES_STATUS EQUAL 0)
    message(FATAL_ERROR "The compiler's predefined macros for moc: ${KIV3_PREDEFINES_STATUS}")
endif()
foreach(directory IN LISTS Qt5Core_INCLUDE_DIRS)
    if(EXISTS ${directory}/qsystemdetection.h)
        set(KIV3_QT_SYSTEM_DETECTION ${directory}/qsystemdetection.h)
    endif()
endforeach()
if(NOT KIV3_QT_SYSTEM_DETECTION)
    message(FATAL_ERROR "No qsystemdetection.h among Qt Core's headers: ${Qt5Core_INCLUDE_DIRS}")
endif()

# kiv3_moc_test_sources(TARGET): TARGET's sources that declare a class for moc get their
# "<source name>.moc".
function(kiv3_moc_test_sources target)
    set(moc_directory ${CMAKE_CURRENT_BINARY_DIR}/${target}_moc)
    file(MAKE_DIRECTORY ${moc_directory})
    get_target_property(sources ${target} SOURCES)
    foreach(source IN LISTS sources)
        get_filename_component(path ${source} ABSOLUTE)
        file(STRINGS ${path} declares_class REGEX "Q_OBJECT|Q_GADGET")
        if(NOT declares_class)
            continue()
        elseif(source MATCHES "\\.h$")
            message(FATAL_ERROR "${target}: declare the test's classes in its source, not in ${source}")
        endif()
        get_filename_component(stem ${source} NAME_WE)
        set(moc_file ${moc_directory}/${stem}.moc)
        add_custom_command(OUTPUT ${moc_file}
            COMMAND Qt5::moc --include ${KIV3_TEST_MOC_PREDEFINES}
                --include ${KIV3_QT_SYSTEM_DETECTION} ${path} -o ${moc_file}
            DEPENDS ${path} ${KIV3_TEST_MOC_PREDEFINES} Qt5::moc
            COMMENT "moc ${stem}.moc"
            VERBATIM)
        target_sources(${target} PRIVATE ${moc_file})
    endforeach()
    target_include_directories(${target} PRIVATE ${moc_directory})
endfunction()

# kiv3_add_test(NAME SOURCES src... LIBRARIES lib... [LOCKS lock...] [LABELS label...]
#               [SECONDS seconds])
# Builds one Qt Test program and registers it with CTest. LOCKS names resources that
# tests must not share at once (the agent's fixed ports, the private spooler). SECONDS, about
# how long a long test takes while others run, starts the longest first, so that the short
# ones fill the processors beside them (CTest learns the times only from a first run).
function(kiv3_add_test name)
    cmake_parse_arguments(ARG "" "SECONDS" "SOURCES;LIBRARIES;LOCKS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${ARG_LIBRARIES})
    kiv3_moc_test_sources(${name})
    kiv3_reuse_precompiled_headers(${name} kiv3_test_headers)
    list(FIND ARG_LOCKS agent_ports ports_lock)
    if(ports_lock GREATER -1 AND KIV3_TEST_OWN_NETWORKS)
        list(REMOVE_ITEM ARG_LOCKS agent_ports)
        add_test(NAME ${name} COMMAND ${KIV3_AGENT_PORTS_RUNNER} $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${KIV3_TEST_ENVIRONMENT}"
        TIMEOUT 300)
    if(ARG_LOCKS)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_LOCKS}")
    endif()
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
    if(ARG_SECONDS)
        set_tests_properties(${name} PROPERTIES COST ${ARG_SECONDS})
    endif()
endfunction()
