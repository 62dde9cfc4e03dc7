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

# The fault report test crashes a helper that installs the handler the way zelkor does.
if(TARGET app_fault_test)
  add_executable(app_fault_crasher app_fault_crasher.cpp)
  target_link_libraries(app_fault_crasher PRIVATE zelkor_app_lib)
  target_compile_definitions(app_fault_test PRIVATE ZELKOR_FAULT_CRASHER="$<TARGET_FILE:app_fault_crasher>")
  add_dependencies(app_fault_test app_fault_crasher)
endif()

# No window test may reach a public host, even one that forgets its own endpoints file.
foreach(test ${zelkor_app_tests})
  target_sources(${test} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/app_loopback_guard.cpp)
endforeach()
