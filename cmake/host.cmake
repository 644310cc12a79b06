# Linux build: the portable logic and its GoogleTest unit tests.
set(SANITIZE_FLAGS)
if(VARNOK_SANITIZE)
  set(SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
endif()

add_library(varnok_portable STATIC ${PORTABLE_SOURCES})
target_include_directories(varnok_portable PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_options(varnok_portable PRIVATE ${WARNINGS} ${SANITIZE_FLAGS})
target_link_options(varnok_portable PUBLIC ${SANITIZE_FLAGS})

file(GLOB_RECURSE HOST_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cpp)
file(GLOB HOST_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/host/*.cpp)
add_executable(unit_tests ${HOST_TESTS} ${HOST_TEST_SUPPORT})
target_include_directories(unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_options(unit_tests PRIVATE ${WARNINGS} ${SANITIZE_FLAGS})
target_link_libraries(unit_tests PRIVATE varnok_portable GTest::gtest_main)
# Real installers' bytes, kept beside the project, for the tests that recognise them.
target_compile_definitions(unit_tests PRIVATE
  VARNOK_CORPUS_DIR="${CMAKE_SOURCE_DIR}/../shared/corpus")
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS host)

# scripts/apt-install with stand-ins for apt-get and apt-cache on PATH: a package mirror caught in
# the middle of a sync cannot be made on demand.
add_test(NAME AptInstall.SurvivesAMirrorMidSync COMMAND ${CMAKE_SOURCE_DIR}/tests/bootstrap/apt_install_test.sh)
set_tests_properties(AptInstall.SurvivesAMirrorMidSync PROPERTIES LABELS host SKIP_RETURN_CODE 77)
