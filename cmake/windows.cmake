# mingw-w64 build: the shipped executable, the test tools and the Wine tests.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 __USE_MINGW_ANSI_STDIO=1)
# Self-contained binaries (no libgcc/libstdc++/winpthread DLLs), ASLR and DEP on.
set(WIN_LINK_FLAGS -static -static-libgcc -static-libstdc++ -Wl,--dynamicbase -Wl,--nxcompat)

add_library(varnok_core STATIC ${PORTABLE_SOURCES} ${WIN_SOURCES} ${SEAM_SOURCES})
target_include_directories(varnok_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_options(varnok_core PRIVATE ${WARNINGS})
target_link_libraries(varnok_core PUBLIC advapi32)

add_executable(app_varnok ${CMAKE_SOURCE_DIR}/src/run/main_win.cpp)
target_compile_options(app_varnok PRIVATE ${WARNINGS})
target_link_libraries(app_varnok PRIVATE varnok_core)
target_link_options(app_varnok PRIVATE ${WIN_LINK_FLAGS})
set_target_properties(app_varnok PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# Test tools: the exit-code runner and the programs that the Wine tests start.
file(GLOB TOOL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/*.cpp)
foreach(src IN LISTS TOOL_SOURCES)
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE ${WARNINGS})
  target_link_libraries(${name} PRIVATE varnok_core)
  target_link_options(${name} PRIVATE ${WIN_LINK_FLAGS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
  list(APPEND TOOL_TARGETS ${name})
endforeach()

# Fixture programs for the file-version tests: one with a version resource, one without.
enable_language(RC)
add_executable(versioned ${CMAKE_SOURCE_DIR}/tests/fixtures/versioned.cpp
                         ${CMAKE_SOURCE_DIR}/tests/fixtures/versioned.rc)
add_executable(plain ${CMAKE_SOURCE_DIR}/tests/fixtures/plain.cpp)
foreach(fixture versioned plain)
  target_link_options(${fixture} PRIVATE ${WIN_LINK_FLAGS})
  set_target_properties(${fixture} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
  list(APPEND TOOL_TARGETS ${fixture})
endforeach()

# A real Windows Installer package, built by wixl.
find_program(WIXL wixl REQUIRED)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/tools/tinymsi.msi
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/tools
  COMMAND ${WIXL} -o ${CMAKE_BINARY_DIR}/tools/tinymsi.msi tinymsi.wxs
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/fixtures
  DEPENDS ${CMAKE_SOURCE_DIR}/tests/fixtures/tinymsi.wxs ${CMAKE_SOURCE_DIR}/tests/fixtures/tinymsi-readme.txt)
add_custom_target(fixture_msi DEPENDS ${CMAKE_BINARY_DIR}/tools/tinymsi.msi)
list(APPEND TOOL_TARGETS fixture_msi)

# A real NSIS product: DemoApp.exe (version 1.5.0.0) next to NSIS's generic Uninstall.exe. The
# installer's architecture follows the build's, so that it runs wherever the build's tests run.
add_executable(DemoApp ${CMAKE_SOURCE_DIR}/tests/fixtures/plain.cpp
                       ${CMAKE_SOURCE_DIR}/tests/fixtures/demoapp.rc)
target_link_options(DemoApp PRIVATE ${WIN_LINK_FLAGS})
set_target_properties(DemoApp PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
find_program(MAKENSIS makensis REQUIRED)
set(NSIS_ARCH_FLAG)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(NSIS_ARCH_FLAG -DAMD64)
endif()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/tools/demoapp-setup.exe
  COMMAND ${MAKENSIS} -V2 ${NSIS_ARCH_FLAG} -DDEMOAPP=$<TARGET_FILE:DemoApp> demoapp.nsi
          "-XOutFile ${CMAKE_BINARY_DIR}/tools/demoapp-setup.exe"
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/fixtures
  DEPENDS DemoApp ${CMAKE_SOURCE_DIR}/tests/fixtures/demoapp.nsi)
add_custom_target(fixture_nsis DEPENDS ${CMAKE_BINARY_DIR}/tools/demoapp-setup.exe)
list(APPEND TOOL_TARGETS fixture_nsis)

file(GLOB_RECURSE WINE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_wintest.cpp)
file(GLOB WINE_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/win/*.cpp)
add_executable(wine_tests ${WINE_TESTS} ${WINE_TEST_SUPPORT})
target_include_directories(wine_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_options(wine_tests PRIVATE ${WARNINGS})
target_link_libraries(wine_tests PRIVATE varnok_core GTest::gtest_main)
target_link_options(wine_tests PRIVATE ${WIN_LINK_FLAGS})
add_dependencies(wine_tests app_varnok ${TOOL_TARGETS})
# The tests find the program under test and the tools relative to themselves.
set_target_properties(wine_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

add_test(NAME binary_hardening COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-binary $<TARGET_FILE:app_varnok>)
set_tests_properties(binary_hardening PROPERTIES LABELS binary)

# Off where this build's executables cannot run under the machine's Wine (see scripts/wine-env.sh).
option(VARNOK_WINE_TESTS "Register the tests that run under Wine" ON)
if(VARNOK_WINE_TESTS)
  # One Wine prefix serves all of them, and they change its registry: never two at once.
  gtest_discover_tests(wine_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS wine RESOURCE_LOCK wineprefix TIMEOUT 600)
endif()
