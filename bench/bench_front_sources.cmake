# Stands in for KWin and GNOME Shell on a private session bus (sd-bus), drives a private X server
# and a headless sway, and starts the agent and the GTK window client from the tree.
pkg_check_modules(BENCH_FRONT REQUIRED IMPORTED_TARGET xcb xcb-ewmh libsystemd)
target_link_libraries(bench_front_sources PRIVATE PkgConfig::BENCH_FRONT)
target_compile_definitions(bench_front_sources PRIVATE
  BENCH_WINDOW_CLIENT="${PROJECT_SOURCE_DIR}/agent/tests/desktop/window-client.py")
add_dependencies(bench_front_sources CorvimusHelper)
