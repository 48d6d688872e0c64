# Install-time half of corvimus_install_template (CorvimusLayout.cmake): writes one template with the
# prefix installed to. Expects corvimus_template, corvimus_destination and corvimus_name.
#
# Placeholders, each the prefix (without a trailing slash) written for where it lands:
#   @CORVIMUS_PREFIX@          as it is (XML files escape it themselves where they need to)
#   @CORVIMUS_PREFIX_EXEC@     inside a double-quoted argument of a desktop entry's Exec key
#   @CORVIMUS_PREFIX_DESKTOP@  in a desktop entry's string value (TryExec, Path)
#   @CORVIMUS_PREFIX_TMPFILES@ inside a double-quoted path of a tmpfiles.d rule
#   @CORVIMUS_PREFIX_ROFF@     in the text of a manual page
#   @CORVIMUS_AUTOSTART_ROFF@  the autostart folder (below), in the text of a manual page
#
# corvimus_destination is a folder relative to the prefix, or XDG_AUTOSTART for the folder the
# desktops read autostart entries from: /etc/xdg/autostart for the prefixes /usr and /usr/local,
# the user's own autostart folder for the prefix ~/.local, else <prefix>/etc/xdg/autostart (a
# private installation: add <prefix>/etc/xdg to XDG_CONFIG_DIRS to have it read). DESTDIR is put in
# front of wherever the file goes.
string(REGEX REPLACE "(.)/+$" "\\1" CORVIMUS_PREFIX "${CMAKE_INSTALL_PREFIX}")

# In a quoted Exec argument ", `, $ and \ take a backslash, and the entry's own string escaping
# doubles every backslash; a literal % is written %%.
set(CORVIMUS_PREFIX_EXEC "${CORVIMUS_PREFIX}")
string(REPLACE "\\" "\\\\\\\\" CORVIMUS_PREFIX_EXEC "${CORVIMUS_PREFIX_EXEC}")
foreach(special "\"" "`" "$")
  string(REPLACE "${special}" "\\\\${special}" CORVIMUS_PREFIX_EXEC "${CORVIMUS_PREFIX_EXEC}")
endforeach()
string(REPLACE "%" "%%" CORVIMUS_PREFIX_EXEC "${CORVIMUS_PREFIX_EXEC}")

# A desktop entry's string value: a backslash is written \\.
string(REPLACE "\\" "\\\\" CORVIMUS_PREFIX_DESKTOP "${CORVIMUS_PREFIX}")

# tmpfiles.d: C escapes inside quotes, % starts a substitution (%h, %U, ...).
set(CORVIMUS_PREFIX_TMPFILES "${CORVIMUS_PREFIX}")
string(REPLACE "\\" "\\\\" CORVIMUS_PREFIX_TMPFILES "${CORVIMUS_PREFIX_TMPFILES}")
string(REPLACE "\"" "\\\"" CORVIMUS_PREFIX_TMPFILES "${CORVIMUS_PREFIX_TMPFILES}")
string(REPLACE "%" "%%" CORVIMUS_PREFIX_TMPFILES "${CORVIMUS_PREFIX_TMPFILES}")

set(corvimus_home "$ENV{HOME}")
string(REGEX REPLACE "(.)/+$" "\\1" corvimus_home "${corvimus_home}")
if(CORVIMUS_PREFIX STREQUAL "/usr" OR CORVIMUS_PREFIX STREQUAL "/usr/local")
  set(corvimus_autostart "/etc/xdg/autostart")
elseif(IS_ABSOLUTE "${corvimus_home}" AND CORVIMUS_PREFIX STREQUAL "${corvimus_home}/.local")
  if(IS_ABSOLUTE "$ENV{XDG_CONFIG_HOME}")
    set(corvimus_autostart "$ENV{XDG_CONFIG_HOME}/autostart")
  else()
    set(corvimus_autostart "${corvimus_home}/.config/autostart")
  endif()
else()
  set(corvimus_autostart "${CORVIMUS_PREFIX}/etc/xdg/autostart")
endif()
if(corvimus_destination STREQUAL "XDG_AUTOSTART")
  set(corvimus_dir "${corvimus_autostart}")
else()
  set(corvimus_dir "${CMAKE_INSTALL_PREFIX}/${corvimus_destination}")
endif()

# Manual pages: a backslash is written \e.
string(REPLACE "\\" "\\e" CORVIMUS_PREFIX_ROFF "${CORVIMUS_PREFIX}")
string(REPLACE "\\" "\\e" CORVIMUS_AUTOSTART_ROFF "${corvimus_autostart}")

set(corvimus_out "$ENV{DESTDIR}${corvimus_dir}/${corvimus_name}")
file(READ "${corvimus_template}" corvimus_text)
string(CONFIGURE "${corvimus_text}" corvimus_text @ONLY)
message(STATUS "Installing: ${corvimus_out}")
file(WRITE "${corvimus_out}" "${corvimus_text}")
# The manifest names files as they lie on the installed system, without DESTDIR, as CMake's own
# rules do.
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${corvimus_dir}/${corvimus_name}")
