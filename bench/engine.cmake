# Whole-run benches ask the loopback fixture service.
if(TARGET engine_parallel_bench)
  if(NOT TARGET zelkor_fixture_service)
    pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/fixtures ${CMAKE_CURRENT_BINARY_DIR}/fixtures)
  endif()
  target_link_libraries(engine_parallel_bench PRIVATE zelkor_fixture_service)
endif()
