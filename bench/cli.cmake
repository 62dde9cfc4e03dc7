# The shared-run bench starts zelkor-cli workers, a redis-server and the fixture service.
if(TARGET cli_shared_bench)
  if(NOT TARGET zelkor_fixture_service)
    pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/fixtures ${CMAKE_CURRENT_BINARY_DIR}/fixtures)
  endif()
  target_sources(cli_shared_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/redis_server.cpp
                                          ${PROJECT_SOURCE_DIR}/tests/support/child_process.cpp)
  target_include_directories(cli_shared_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(cli_shared_bench PRIVATE zelkor_fixture_service)
  target_compile_definitions(cli_shared_bench PRIVATE ZELKOR_CLI_PATH="$<TARGET_FILE:zelkor-cli>")
  add_dependencies(cli_shared_bench zelkor-cli)
endif()
