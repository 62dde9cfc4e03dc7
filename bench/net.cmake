# Net benches serve on loopback; some through cpp-httplib.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
if(TARGET net_http_bench)
  target_link_libraries(net_http_bench PRIVATE PkgConfig::HTTPLIB)
endif()
# The answer-memory bench serves its huge answers with the tests' hostile server.
if(TARGET net_answer_memory_bench)
  if(TARGET zelkor_testsupport)
    target_link_libraries(net_answer_memory_bench PRIVATE zelkor_testsupport)
  else()
    set_target_properties(net_answer_memory_bench PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
endif()
