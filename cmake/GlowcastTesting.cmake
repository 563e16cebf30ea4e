# What the test suites, the benchmarks and the fuzz targets share.

# tests/support: fakes of the core's ports, child processes, a private session bus, the bridge
# simulator, waiting helpers. Headers only, included as "support/..."; a consumer of the Qt helpers
# links Qt (through glowcast::adapters) itself.
add_library(glowcast_test_support INTERFACE)
add_library(glowcast::test_support ALIAS glowcast_test_support)
target_include_directories(glowcast_test_support INTERFACE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(glowcast_test_support INTERFACE glowcast::core)
target_compile_definitions(glowcast_test_support INTERFACE GLOWCAST_VERSION="${PROJECT_VERSION}")

# glowcast_test_programs(TARGET PROGRAM...): TARGET may start these programs of this build, each
# built first and its path given as GLOWCAST_APP (glowcast), GLOWCAST_CTL (glowcastctl),
# GLOWCAST_BRIDGE_SIM or GLOWCAST_POST_COVER.
function(glowcast_test_programs target)
    foreach(program IN LISTS ARGN)
        if(program STREQUAL "glowcast")
            set(macro GLOWCAST_APP)
        elseif(program STREQUAL "glowcastctl")
            set(macro GLOWCAST_CTL)
        else()
            string(TOUPPER "${program}" macro)
            string(REPLACE "-" "_" macro "${macro}")
        endif()
        target_compile_definitions(${target} PRIVATE ${macro}="$<TARGET_FILE:${program}>")
        add_dependencies(${target} ${program})
    endforeach()
endfunction()

# glowcast_add_test_suite(NAME SOURCES... [MAIN QT|WIDGETS] [LIBRARIES...] [PROGRAMS...] [TIMEOUT S])
# One GoogleTest executable with one CTest entry per test. Its main is GoogleTest's own, or with
# MAIN QT or WIDGETS one that makes a QCoreApplication or (offscreen unless told otherwise) a
# QApplication first.
function(glowcast_add_test_suite name)
    cmake_parse_arguments(PARSE_ARGV 1 suite "" "MAIN;TIMEOUT" "SOURCES;LIBRARIES;PROGRAMS")
    add_executable(${name} ${suite_SOURCES})
    target_link_libraries(${name} PRIVATE glowcast::test_support ${suite_LIBRARIES} GTest::gtest glowcast_warnings)
    if(suite_MAIN)
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/qt_main.cpp)
        if(suite_MAIN STREQUAL "WIDGETS")
            target_compile_definitions(${name} PRIVATE GLOWCAST_TEST_WIDGETS)
            target_link_libraries(${name} PRIVATE Qt6::Widgets)
        endif()
    else()
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    glowcast_test_programs(${name} ${suite_PROGRAMS})
    set(properties ENVIRONMENT "GLOWCAST_MODULE_DIR=${GLOWCAST_MODULE_BUILD_DIR}")
    if(suite_TIMEOUT)
        list(APPEND properties TIMEOUT ${suite_TIMEOUT})
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
