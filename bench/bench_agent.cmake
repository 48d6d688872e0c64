# The agent benchmark drives a private X server itself and starts the agent and the stand-in
# application from the build tree.
pkg_check_modules(BENCH_AGENT_XCB REQUIRED IMPORTED_TARGET xcb xcb-ewmh)
target_link_libraries(bench_agent PRIVATE PkgConfig::BENCH_AGENT_XCB)
add_dependencies(bench_agent CorvimusHelper)
if(TARGET agent_test_app)
  add_dependencies(bench_agent agent_test_app)
endif()
