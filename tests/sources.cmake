# The source tests talk to the fixture service on loopback.
foreach(test ${zelkor_sources_tests})
  target_link_libraries(${test} PRIVATE zelkor_fixture_service)
endforeach()
