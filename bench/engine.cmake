# Whole-run benches ask the loopback fixture service; the soak run also serves hostile answers with
# the tests' loopback server.
if(TARGET engine_parallel_bench)
  zelkor_bench_uses_fixture(engine_parallel_bench)
endif()
if(TARGET engine_soak_bench)
  zelkor_bench_uses_fixture(engine_soak_bench)
  target_sources(engine_soak_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/hostile_server.cpp
                                           ${PROJECT_SOURCE_DIR}/tests/support/loopback.cpp)
endif()
if(TARGET engine_stop_bench)
  # The scripted sources of the tests, header only.
  target_include_directories(engine_stop_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
if(TARGET engine_redis_bench)
  # Starts a real redis-server on loopback, as the tests do.
  zelkor_bench_uses_fixture(engine_redis_bench)
  target_sources(engine_redis_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/redis_server.cpp)
endif()
