# Window tests drive the real MainWindow through QTest on the offscreen platform; the end-to-end
# tests start the built zelkor against the fixture service.
find_package(Qt6 REQUIRED COMPONENTS Test) # imported targets are per directory
foreach(test ${zelkor_app_tests})
  target_link_libraries(${test} PRIVATE Qt6::Test)
  if(test MATCHES "^app_fixture_")
    target_link_libraries(${test} PRIVATE zelkor_fixture_service) # defined by fixtures/, later
    target_compile_definitions(${test} PRIVATE ZELKOR_APP_BINARY="$<TARGET_FILE:zelkor>")
    add_dependencies(${test} zelkor)
  endif()
endforeach()
