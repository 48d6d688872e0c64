# Where the installation puts things, relative to the prefix (cmake --install --prefix DIR, or
# ./corvimus install --prefix DIR; /usr/local by default). The folders below lib/corvimus are the
# Folder Manager's (platform/files/include/platform/Folders.h), which finds the prefix from the
# running program's own place, so an installation works wherever it is put.
set(CORVIMUS_INSTALL_HOME lib/corvimus)
set(CORVIMUS_INSTALL_EXTENSIONS ${CORVIMUS_INSTALL_HOME}/Extensions)
set(CORVIMUS_INSTALL_KEXT ${CORVIMUS_INSTALL_EXTENSIONS}/Corvimus.kext)
set(CORVIMUS_INSTALL_LIBRARY ${CORVIMUS_INSTALL_HOME}/Library)
set(CORVIMUS_INSTALL_PANES ${CORVIMUS_INSTALL_LIBRARY}/PreferencePanes)
set(CORVIMUS_INSTALL_PANE ${CORVIMUS_INSTALL_PANES}/Corvimus.prefPane)
set(CORVIMUS_INSTALL_HELPER ${CORVIMUS_INSTALL_PANE}/Contents/Resources/CorvimusHelper.app)
set(CORVIMUS_INSTALL_RECEIPTS ${CORVIMUS_INSTALL_LIBRARY}/Receipts)
set(CORVIMUS_INSTALL_APPLICATIONS ${CORVIMUS_INSTALL_HOME}/Applications)
set(CORVIMUS_INSTALL_UNINSTALLER
    "${CORVIMUS_INSTALL_APPLICATIONS}/Utilities/Corvimus Uninstaller.app")
set(CORVIMUS_INSTALL_FRAMEWORKS ${CORVIMUS_INSTALL_HOME}/Frameworks)
set(CORVIMUS_INSTALL_CLEANUP ${CORVIMUS_INSTALL_HOME}/Cleanup)
# Searched by systemd for the prefixes /usr and /usr/local.
set(CORVIMUS_INSTALL_SYSTEMD_USER lib/systemd/user)
set(CORVIMUS_INSTALL_SYSTEMD_SYSTEM lib/systemd/system)
set(CORVIMUS_INSTALL_TMPFILES lib/tmpfiles.d)

# corvimus_install_template(TEMPLATE DESTINATION [NAME name])
# Installs TEMPLATE into DESTINATION (relative to the prefix, or XDG_AUTOSTART) with the prefix
# installed to put in for its placeholders (see CorvimusInstallTemplate.cmake). The text is made
# when installing, not when configuring, because `cmake --install --prefix` may choose another
# prefix than the one configured. NAME defaults to the template's name without ".in".
function(corvimus_install_template template destination)
  cmake_parse_arguments(T "" "NAME" "" ${ARGN})
  if(NOT T_NAME)
    get_filename_component(T_NAME ${template} NAME)
    string(REGEX REPLACE "\\.in$" "" T_NAME "${T_NAME}")
  endif()
  install(CODE "
    set(corvimus_template \"${template}\")
    set(corvimus_destination \"${destination}\")
    set(corvimus_name \"${T_NAME}\")
    include(\"${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CorvimusInstallTemplate.cmake\")")
endfunction()

# corvimus_install_link(LINK TARGET): a symbolic link at LINK (relative to the prefix) pointing at
# TARGET (kept as given, so a relative target keeps the installation relocatable).
function(corvimus_install_link link target)
  install(CODE "
    set(corvimus_link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${link}\")
    get_filename_component(corvimus_dir \"\${corvimus_link}\" DIRECTORY)
    file(MAKE_DIRECTORY \"\${corvimus_dir}\")
    file(REMOVE \"\${corvimus_link}\")
    message(STATUS \"Installing: \${corvimus_link} -> ${target}\")
    file(CREATE_LINK \"${target}\" \"\${corvimus_link}\" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${CMAKE_INSTALL_PREFIX}/${link}\")")
endfunction()
