# corvimusd itself, libevdev for the mice it plays, and the virtual machine it runs in.
pkg_check_modules(BENCH_EVDEV REQUIRED IMPORTED_TARGET libevdev)
target_link_libraries(${name} PRIVATE PkgConfig::BENCH_EVDEV)
target_compile_definitions(${name} PRIVATE CORVIMUSD="$<TARGET_FILE:corvimusd>"
  CORVIMUS_VM_SCRIPT="${PROJECT_SOURCE_DIR}/driver/tests/vm/corvimus-vm.sh"
  CORVIMUS_VM_CACHE="${CMAKE_BINARY_DIR}/vm")
add_dependencies(${name} corvimusd)
