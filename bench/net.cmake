# Net benches serve on loopback; some through cpp-httplib.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
if(TARGET net_http_bench)
  target_link_libraries(net_http_bench PRIVATE PkgConfig::HTTPLIB)
endif()
