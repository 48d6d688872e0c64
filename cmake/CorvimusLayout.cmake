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
# Read by desktops, man and software centres below /usr, /usr/local and ~/.local.
set(CORVIMUS_INSTALL_MAN share/man)
set(CORVIMUS_INSTALL_APPLICATION_ENTRIES share/applications)
set(CORVIMUS_INSTALL_ICONS share/icons/hicolor/scalable/apps)
set(CORVIMUS_INSTALL_METAINFO share/metainfo)

# A package build (packaging/CMakeLists.txt) installs with CORVIMUS_PACKAGE_MANAGER set to the
# package manager's name; the rules below leave out what the package manager does itself.

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

# corvimus_install_link(LINK TARGET [NOT_IN_PACKAGE]): a symbolic link at LINK (relative to the
# prefix) pointing at TARGET (kept as given, so a relative target keeps the installation
# relocatable). NOT_IN_PACKAGE leaves it out of a package, whose maintainer scripts make it.
function(corvimus_install_link link target)
  cmake_parse_arguments(L "NOT_IN_PACKAGE" "" "" ${ARGN})
  set(only "")
  set(end "")
  if(L_NOT_IN_PACKAGE)
    set(only "if(NOT CORVIMUS_PACKAGE_MANAGER)")
    set(end "endif()")
  endif()
  install(CODE "
  ${only}
    set(corvimus_link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${link}\")
    get_filename_component(corvimus_dir \"\${corvimus_link}\" DIRECTORY)
    file(MAKE_DIRECTORY \"\${corvimus_dir}\")
    file(REMOVE \"\${corvimus_link}\")
    message(STATUS \"Installing: \${corvimus_link} -> ${target}\")
    file(CREATE_LINK \"${target}\" \"\${corvimus_link}\" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${CMAKE_INSTALL_PREFIX}/${link}\")
  ${end}")
endfunction()

# corvimus_install_man_pages(PAGE...): manual pages into share/man/man<section>, the section being
# the page's suffix (corvimusd.8 goes to man8). In the text, @PROJECT_VERSION@ becomes the version
# and the placeholders @CORVIMUS_PREFIX_ROFF@ and @CORVIMUS_AUTOSTART_ROFF@ the folders installed
# to (CorvimusInstallTemplate.cmake), so that a page names the files where they really are.
function(corvimus_install_man_pages)
  set(CORVIMUS_PREFIX_ROFF "@CORVIMUS_PREFIX_ROFF@")
  set(CORVIMUS_AUTOSTART_ROFF "@CORVIMUS_AUTOSTART_ROFF@")
  foreach(page IN LISTS ARGN)
    get_filename_component(name "${page}" NAME)
    if(NOT name MATCHES "\\.([1-9])$")
      message(FATAL_ERROR "${page}: a manual page's name ends in its section, .1 to .9")
    endif()
    configure_file(${page} "${CMAKE_CURRENT_BINARY_DIR}/man/${name}.in" @ONLY)
    corvimus_install_template("${CMAKE_CURRENT_BINARY_DIR}/man/${name}.in"
                              ${CORVIMUS_INSTALL_MAN}/man${CMAKE_MATCH_1})
  endforeach()
endfunction()
