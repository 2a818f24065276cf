# Test registration helpers: every test gets the sanitizer options, GUI tests the offscreen platform.
#
#   dazoroz_add_gtest(<name> SOURCES <files...> LIBS <targets...>)
#   dazoroz_add_qtest(<name> SOURCES <files...> LIBS <targets...> [GUI] [BOTH_LOOPS])
#
# BOTH_LOOPS registers the program a second time as <name>_plain, with the TCP port on the plain
# event loop instead of Qt's (tests/support/test_loop.h).
#
# Each test runs in its own scratch working directory under the build tree, so that files
# such as names.txt never land in the source tree, and with its own XDG_CONFIG_HOME and
# XDG_STATE_HOME there, so that a test that names no folder never reaches the user's own settings
# or history; the session bus is one that does not exist, so that no test reaches the user's own
# keyring (the keyring tests bring a private one).
find_package(GTest REQUIRED)

function(_dazoroz_register name)
    cmake_parse_arguments(T "GUI" "TEST_NAME" "EXTRA_ENV" ${ARGN})
    if(NOT T_TEST_NAME)
        set(T_TEST_NAME ${name})
    endif()
    set(workdir "${CMAKE_CURRENT_BINARY_DIR}/${T_TEST_NAME}.work")
    file(MAKE_DIRECTORY "${workdir}")
    add_test(NAME ${T_TEST_NAME} COMMAND ${name} WORKING_DIRECTORY "${workdir}")
    set(env ${DAZOROZ_SANITIZER_ENV} "QT_QPA_PLATFORM=offscreen" "QT_FATAL_CRITICALS=0"
            "XDG_CONFIG_HOME=${workdir}/config" "XDG_STATE_HOME=${workdir}/state"
            "DBUS_SESSION_BUS_ADDRESS=unix:path=${workdir}/no-session-bus" ${T_EXTRA_ENV})
    if(NOT T_GUI)
        list(REMOVE_ITEM env "QT_QPA_PLATFORM=offscreen")
    endif()
    set_tests_properties(${T_TEST_NAME} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
endfunction()

function(dazoroz_add_gtest name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock
                                          dazoroz_warnings)
    _dazoroz_register(${name})
endfunction()

function(dazoroz_add_qtest name)
    cmake_parse_arguments(T "GUI;BOTH_LOOPS" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test dazoroz_warnings)
    if(T_GUI)
        _dazoroz_register(${name} GUI)
    else()
        _dazoroz_register(${name})
    endif()
    if(T_BOTH_LOOPS)
        _dazoroz_register(${name} TEST_NAME ${name}_plain EXTRA_ENV "DAZOROZ_TEST_LOOP=plain")
    endif()
endfunction()
