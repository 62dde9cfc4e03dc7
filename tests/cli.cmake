# zelkor-cli tests run the built program; end-to-end runs talk to the loopback fixture service.
foreach(test ${zelkor_cli_tests})
  add_dependencies(${test} zelkor-cli)
  target_compile_definitions(${test} PRIVATE ZELKOR_CLI_PATH="$<TARGET_FILE:zelkor-cli>")
  if(test MATCHES "^cli_run_")
    target_link_libraries(${test} PRIVATE zelkor_fixture_service)
  endif()
endforeach()
