# The baseline loads keymaps with xkbcommon directly.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CORVIMUS_BENCH_XKB REQUIRED IMPORTED_TARGET xkbcommon)
target_link_libraries(${name} PRIVATE PkgConfig::CORVIMUS_BENCH_XKB)
