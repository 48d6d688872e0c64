# corvimus_module(NAME [DEPS dep...] [PRIVATE_DEPS dep...])
# One folder, one library: sources are src/*.cpp, public headers include/<folder>/, the alias is
# corvimus::NAME. A folder whose sources are not written yet is a header-only (INTERFACE) library.
function(corvimus_module name)
  cmake_parse_arguments(M "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/src/*.c)
  if(sources)
    add_library(corvimus_${name} STATIC ${sources})
    target_include_directories(corvimus_${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include
                                                PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
    target_link_libraries(corvimus_${name} PUBLIC ${M_DEPS} PRIVATE ${M_PRIVATE_DEPS})
  else()
    add_library(corvimus_${name} INTERFACE)
    target_include_directories(corvimus_${name} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_link_libraries(corvimus_${name} INTERFACE ${M_DEPS})
  endif()
  add_library(corvimus::${name} ALIAS corvimus_${name})
endfunction()

# add_corvimus_test(NAME SOURCES... [LIBS lib...] [ENV VAR=VALUE...] [TIMEOUT seconds]
#                   [LABELS label...])
# One test program per module, registered with CTest as one test per GoogleTest case; LABELS lets
# `ctest -L` pick or leave out a group (the desktop compositor tests).
function(add_corvimus_test name)
  if(NOT CORVIMUS_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "LIBS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} corvimus::testing GTest::gtest GTest::gtest_main)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # The test environment goes in through env(1): a list in the ENVIRONMENT property would be split
  # into separate arguments by the discovery script, losing every entry but the first.
  if(T_ENV)
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR env ${T_ENV})
  endif()
  include(GoogleTest)
  if(T_LABELS)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()

# corvimus_module_tests(NAME [LIBS ...]): the module's tests/*.cpp as one test program NAME_tests.
function(corvimus_module_tests name)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  if(tests)
    add_corvimus_test(${name}_tests ${tests} ${ARGN})
  endif()
endfunction()

# corvimus_fuzz_target(NAME SOURCES... [LIBS lib...] CORPUS folder)
# A libFuzzer program, built only by clang with -DCORVIMUS_FUZZ=ON, and a test that runs it once
# over its corpus: the clang build of `./corvimus test` shows that every fuzz target builds, links
# with the fuzzer runtime and starts.
function(corvimus_fuzz_target name)
  if(NOT CORVIMUS_FUZZ OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  cmake_parse_arguments(F "" "CORPUS" "LIBS" ${ARGN})
  add_executable(${name} ${F_UNPARSED_ARGUMENTS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  add_test(NAME ${name}_corpus COMMAND ${name} -runs=0 ${F_CORPUS})
endfunction()

# corvimus_translations(TARGET NAME LANGUAGES lang... SOURCES file...)
# The catalogue NAME through Qt Linguist: translations/NAME_<lang>.ts in the calling folder, kept
# up to date from SOURCES by the target update_translations (lupdate), built to NAME_<lang>.qm
# (lrelease) before TARGET. corvimus_bundle_translations puts the built files into bundles.
function(corvimus_translations target name)
  cmake_parse_arguments(T "" "" "LANGUAGES;SOURCES" ${ARGN})
  find_package(Qt6 REQUIRED COMPONENTS LinguistTools)
  set(ts_files "")
  foreach(lang IN LISTS T_LANGUAGES)
    list(APPEND ts_files ${CMAKE_CURRENT_SOURCE_DIR}/translations/${name}_${lang}.ts)
  endforeach()
  # The catalogues are kept without source line numbers, so that moving code changes no .ts file.
  qt6_add_lupdate(${target} TS_FILES ${ts_files} SOURCES ${T_SOURCES} OPTIONS -locations none)
  qt6_add_lrelease(${target} TS_FILES ${ts_files} QM_FILES_OUTPUT_VARIABLE qm_files)
  set(CORVIMUS_QM_${name} "${qm_files}" CACHE INTERNAL "")
  set(CORVIMUS_QM_TARGET_${name} "${target}_lrelease" CACHE INTERNAL "")
endfunction()

# corvimus_bundle_translations(TARGET RESOURCES INSTALL_RESOURCES NAME...)
# Each named catalogue as <lang>.lproj/NAME.qm: in the bundle's Resources folder of the build tree,
# brought up to date whenever TARGET is built, and, unless INSTALL_RESOURCES is empty, in the
# installed bundle's.
function(corvimus_bundle_translations target resources install_resources)
  set(copies "")
  foreach(name IN LISTS ARGN)
    foreach(qm IN LISTS CORVIMUS_QM_${name})
      get_filename_component(base ${qm} NAME_WE)
      string(REGEX REPLACE "^.*_([^_]+)$" "\\1" lang "${base}")
      set(copy "${resources}/${lang}.lproj/${name}.qm")
      add_custom_command(OUTPUT "${copy}" DEPENDS "${qm}" ${CORVIMUS_QM_TARGET_${name}}
        COMMAND ${CMAKE_COMMAND} -E make_directory "${resources}/${lang}.lproj"
        COMMAND ${CMAKE_COMMAND} -E copy "${qm}" "${copy}" VERBATIM)
      list(APPEND copies "${copy}")
      if(install_resources)
        install(FILES "${qm}" DESTINATION "${install_resources}/${lang}.lproj" RENAME "${name}.qm")
      endif()
    endforeach()
  endforeach()
  add_custom_target(${target}_translations DEPENDS ${copies})
  add_dependencies(${target} ${target}_translations)
endfunction()
