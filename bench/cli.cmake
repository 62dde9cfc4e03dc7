# The shared-run bench starts zelkor-cli workers, a redis-server and the fixture service.
if(TARGET cli_shared_bench)
  zelkor_bench_uses_fixture(cli_shared_bench)
  target_sources(cli_shared_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/redis_server.cpp
                                          ${PROJECT_SOURCE_DIR}/tests/support/child_process.cpp)
  target_compile_definitions(cli_shared_bench PRIVATE ZELKOR_CLI_PATH="$<TARGET_FILE:zelkor-cli>")
  add_dependencies(cli_shared_bench zelkor-cli)
endif()
