# Whole-run benches ask the loopback fixture service.
if(TARGET engine_parallel_bench)
  if(NOT TARGET zelkor_fixture_service)
    pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/fixtures ${CMAKE_CURRENT_BINARY_DIR}/fixtures)
  endif()
  target_link_libraries(engine_parallel_bench PRIVATE zelkor_fixture_service)
endif()
# The soak run serves hostile answers with the tests' loopback server beside the fixture service.
if(TARGET engine_soak_bench)
  if(NOT TARGET zelkor_fixture_service)
    pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/fixtures ${CMAKE_CURRENT_BINARY_DIR}/fixtures)
  endif()
  target_sources(engine_soak_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/hostile_server.cpp
                                           ${PROJECT_SOURCE_DIR}/tests/support/loopback.cpp)
  target_include_directories(engine_soak_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(engine_soak_bench PRIVATE zelkor_fixture_service)
endif()
