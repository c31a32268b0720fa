# One static library per source folder, named vesk2_<folder>, built from every
# .cpp of that folder. Dependencies follow the layer order:
# platform <- net, crypto, settings <- ftpclient, ftpserver <- admin, client, sites, dialogs <- app.
function(vesk2_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(vesk2_${name} STATIC ${sources})
    target_include_directories(vesk2_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(vesk2_${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(vesk2_${name} INTERFACE)
    target_include_directories(vesk2_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(vesk2_${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# One GoogleTest executable per test folder, named test_<folder>, from every
# .cpp of that folder; its tests are registered with CTest as "<folder>.<Suite>.<Test>".
function(vesk2_test name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_link_libraries(test_${name} PRIVATE vesk2_test_support ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  # Tests that run the program itself need it built first.
  add_dependencies(test_${name} vesk2)
  gtest_discover_tests(test_${name} TEST_PREFIX "${name}." DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 300)
endfunction()
