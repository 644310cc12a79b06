# mingw-w64 build: the shipped executable, the test tools and the Wine tests.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 __USE_MINGW_ANSI_STDIO=1)
# Self-contained binaries (no libgcc/libstdc++/winpthread DLLs), ASLR and DEP on, and
# Terminal-Server-aware (else a Remote Desktop Session Host redirects the Windows directory).
set(WIN_LINK_FLAGS -static -static-libgcc -static-libstdc++ -Wl,--dynamicbase -Wl,--nxcompat
    -Wl,--tsaware)
# Reproducible builds: one commit gives the same bytes in any folder, at any time. Archives carry
# no dates or owners, and no source path reaches an object.
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>)
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

add_library(varnok_core STATIC ${PORTABLE_SOURCES} ${WIN_SOURCES} ${SEAM_SOURCES})
target_include_directories(varnok_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_options(varnok_core PRIVATE ${WARNINGS})
target_link_libraries(varnok_core PUBLIC advapi32)

enable_language(RC)
add_executable(app_varnok ${CMAKE_SOURCE_DIR}/src/run/main_win.cpp
                          ${CMAKE_SOURCE_DIR}/src/run/app_varnok.rc)
# The dependency scan follows the resource file's #include lines, not the manifest it embeds.
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/run/app_varnok.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/src/run/app_varnok.manifest)
target_compile_options(app_varnok PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${WARNINGS}>")
target_link_libraries(app_varnok PRIVATE varnok_core)
# The linker would otherwise stamp the build time into the PE header (and so the checksum).
# Stripped: the symbols and DWARF sections that the static runtime brings serve no one on an
# endpoint, and without them the file ends on a section boundary. Authenticode pads a file to a
# multiple of 8 bytes before it appends the signature, so only such a file comes back byte for
# byte, checksum included, when the signature is removed again (scripts/sign checks this).
# The link map records which archives gave code to the program: scripts/sbom lists them.
# wmain: the arguments as Windows passes them, in UTF-16.
target_link_options(app_varnok PRIVATE ${WIN_LINK_FLAGS} -municode -Wl,--no-insert-timestamp -s
                    -Wl,-Map=${CMAKE_BINARY_DIR}/app_varnok.map)
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

# 64-bit stand-in uninstallers for the i686 build's WOW64 tests: the same programs, built with
# the x86_64 compiler, to be found only in the 64-bit system folder.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  find_program(MINGW64_CXX x86_64-w64-mingw32-g++-posix REQUIRED)
  foreach(tool exit_with paramstr)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/tools/${tool}64.exe
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/tools
      COMMAND ${MINGW64_CXX} -std=c++17 -O2 -static -o ${CMAKE_BINARY_DIR}/tools/${tool}64.exe
              ${CMAKE_SOURCE_DIR}/tests/tools/${tool}.cpp
      DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/${tool}.cpp)
    add_custom_target(fixture_${tool}64 DEPENDS ${CMAKE_BINARY_DIR}/tools/${tool}64.exe)
    list(APPEND TOOL_TARGETS fixture_${tool}64)
  endforeach()
endif()

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

# The corpus of real installers (tests/fixtures/real), built from source on every build: a main
# program with a version resource for each product version, the NSIS products (their stub's
# architecture follows the build's, as above), and the Inno Setup scripts, which the tests compile
# themselves under Wine with the pinned compiler.
set(REAL_DIR ${CMAKE_BINARY_DIR}/tools/real)
set(REAL_SOURCE ${CMAKE_SOURCE_DIR}/tests/fixtures/real)
set(REAL_TARGETS)
foreach(REAL_APP_VERSION 2.4.0 1.8.0 4.1.0 3.2.1 5.0.0 1.4.0)
  string(REPLACE "." "," REAL_APP_COMMAS "${REAL_APP_VERSION}.0")
  configure_file(${REAL_SOURCE}/app.rc.in ${CMAKE_BINARY_DIR}/real/app-${REAL_APP_VERSION}.rc @ONLY)
  add_executable(real_app_${REAL_APP_VERSION} ${CMAKE_SOURCE_DIR}/tests/fixtures/plain.cpp
                 ${CMAKE_BINARY_DIR}/real/app-${REAL_APP_VERSION}.rc)
  target_link_options(real_app_${REAL_APP_VERSION} PRIVATE ${WIN_LINK_FLAGS})
  set_target_properties(real_app_${REAL_APP_VERSION} PROPERTIES OUTPUT_NAME app-${REAL_APP_VERSION}
                        RUNTIME_OUTPUT_DIRECTORY ${REAL_DIR})
  list(APPEND REAL_TARGETS real_app_${REAL_APP_VERSION})
endforeach()
set(REAL_OUTPUTS)
foreach(nsi nsis-wizard nsis-quoted nsis-user)
  add_custom_command(OUTPUT ${REAL_DIR}/${nsi}-setup.exe
    COMMAND ${MAKENSIS} -V2 ${NSIS_ARCH_FLAG} -DAPPS=${REAL_DIR} ${nsi}.nsi
            "-XOutFile ${REAL_DIR}/${nsi}-setup.exe"
    WORKING_DIRECTORY ${REAL_SOURCE}
    DEPENDS ${REAL_TARGETS} ${REAL_SOURCE}/${nsi}.nsi)
  list(APPEND REAL_OUTPUTS ${REAL_DIR}/${nsi}-setup.exe)
endforeach()
foreach(iss inno-plain inno-question-pre inno-question-post inno-user)
  configure_file(${REAL_SOURCE}/${iss}.iss ${REAL_DIR}/${iss}.iss COPYONLY)
endforeach()
add_custom_target(fixture_real DEPENDS ${REAL_OUTPUTS})
list(APPEND TOOL_TARGETS fixture_real ${REAL_TARGETS})
# Where the Wine tests find the pinned Inno Setup compiler (scripts/bootstrap puts it there).
execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch-innosetup --print-iscc
                OUTPUT_VARIABLE default_iscc OUTPUT_STRIP_TRAILING_WHITESPACE)
set(VARNOK_ISCC "${default_iscc}" CACHE FILEPATH "Inno Setup's ISCC.exe, for the Wine tests")

# DLL planting: copies of a marker DLL under the names of the DLLs that the program loads at run
# time, and a program that imports version.dll the unsafe way, as the test's control.
foreach(planted version wtsapi32 userenv)
  add_library(planted_${planted} SHARED ${CMAKE_SOURCE_DIR}/tests/fixtures/planted.cpp)
  set_target_properties(planted_${planted} PROPERTIES OUTPUT_NAME ${planted} PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools/planted)
  target_link_options(planted_${planted} PRIVATE -static)
  list(APPEND TOOL_TARGETS planted_${planted})
endforeach()
add_executable(naive_import ${CMAKE_SOURCE_DIR}/tests/fixtures/naive_import.cpp)
target_link_libraries(naive_import PRIVATE version)
target_link_options(naive_import PRIVATE ${WIN_LINK_FLAGS})
set_target_properties(naive_import PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
list(APPEND TOOL_TARGETS naive_import)

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
add_test(NAME binary_resources COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-resources $<TARGET_FILE:app_varnok>)
set_tests_properties(binary_resources PROPERTIES LABELS binary)
# Only where the shipped i686 executable is built, which is what it rebuilds. It checks the working
# tree rather than HEAD, so that the change under test is the one checked; its two clean builds of
# app_varnok take about a minute on two cores.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  add_test(NAME binary_reproducible COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-reproducible ${CMAKE_SOURCE_DIR})
  set_tests_properties(binary_reproducible PROPERTIES LABELS binary TIMEOUT 600)
  # A signed release of the working tree (one more clean build, about a minute), compared with
  # this build's executable once its signature is removed.
  add_test(NAME release_signing
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-signing $<TARGET_FILE:app_varnok> ${CMAKE_SOURCE_DIR})
  set_tests_properties(release_signing PROPERTIES LABELS binary TIMEOUT 600)
endif()
# The signed executable still runs. Registered for every build so that a machine that cannot run
# the i686 one reports it as skipped (77) rather than leaving it out.
add_test(NAME signed_exe_runs_${CMAKE_SYSTEM_PROCESSOR}
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-signed-run $<TARGET_FILE:app_varnok>)
set_tests_properties(signed_exe_runs_${CMAKE_SYSTEM_PROCESSOR} PROPERTIES
  LABELS "wine;binary" SKIP_RETURN_CODE 77 RESOURCE_LOCK wineprefix TIMEOUT 300)

# Off where this build's executables cannot run under the machine's Wine (see scripts/wine-env.sh).
option(VARNOK_WINE_TESTS "Register the tests that run under Wine" ON)
if(VARNOK_WINE_TESTS)
  # One Wine prefix serves all of them, and they change its registry: never two at once.
  gtest_discover_tests(wine_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 NO_PRETTY_VALUES
    PROPERTIES LABELS wine RESOURCE_LOCK wineprefix TIMEOUT 600 ENVIRONMENT "VARNOK_ISCC=${VARNOK_ISCC}")
  # 32-bit Windows needs a prefix of its own, made by the script; skipped (77) where 32-bit code
  # cannot run.
  add_test(NAME Win32Prefix.AMachineWideRowIsRunOnce
    COMMAND ${CMAKE_SOURCE_DIR}/tests/run/win32_prefix_wintest.sh $<TARGET_FILE:app_varnok>
            $<TARGET_FILE:exit_with> $<TARGET_FILE:runner>)
  set_tests_properties(Win32Prefix.AMachineWideRowIsRunOnce PROPERTIES
    LABELS wine RESOURCE_LOCK wineprefix TIMEOUT 300 SKIP_RETURN_CODE 77)
  # A Japanese locale for the program's own process: code page 932, whose trail bytes include
  # the backslash.
  add_test(NAME DoubleByteCodePage.AFolderEndingInATrailByteBackslashIsOneFolder
    COMMAND ${CMAKE_SOURCE_DIR}/tests/run/dbcs_wintest.sh $<TARGET_FILE:app_varnok>
            $<TARGET_FILE:exit_with> $<TARGET_FILE:runner>)
  set_tests_properties(DoubleByteCodePage.AFolderEndingInATrailByteBackslashIsOneFolder PROPERTIES
    LABELS wine RESOURCE_LOCK wineprefix TIMEOUT 300)
  # A FIFO can only be made on the host side of the prefix, so this one is a script.
  add_test(NAME HeldFile.AHeldFileFailsOnlyItsRow
    COMMAND ${CMAKE_SOURCE_DIR}/tests/run/held_file_wintest.sh $<TARGET_FILE:app_varnok>
            $<TARGET_FILE:exit_with> $<TARGET_FILE:runner>)
  set_tests_properties(HeldFile.AHeldFileFailsOnlyItsRow PROPERTIES
    LABELS wine RESOURCE_LOCK wineprefix TIMEOUT 300)
  # Links can only be made on the host side of the prefix, so this one is a script.
  add_test(NAME LogLinks.TheLogNeverFollowsALink
    COMMAND ${CMAKE_SOURCE_DIR}/tests/log/log_links_wintest.sh $<TARGET_FILE:log_probe>)
  set_tests_properties(LogLinks.TheLogNeverFollowsALink PROPERTIES
    LABELS wine RESOURCE_LOCK wineprefix TIMEOUT 300)
endif()
