# Install script, run after every other install rule: writes the installation's receipt.
#
#   <Receipts>/Corvimus.pkg/Contents/Info.plist   package name, version, prefix, date, file count
#   <Receipts>/Corvimus.pkg/Contents/Archive.txt  every file installed, one per line, in byte
#                                                 order: relative to the prefix, or by its
#                                                 absolute path (without DESTDIR) when it lies
#                                                 outside the prefix (an autostart entry in /etc)
#   <Receipts>/Corvimus Log.rtf                   the installation's log
#
# Expects CORVIMUS_VERSION, CORVIMUS_INSTALL_RECEIPTS and CORVIMUS_RECEIPT_TEMPLATES to be set.
# A package has no receipt of its own: the package manager's database is its list of files (dpkg -L
# corvimus), a second list beside it could only drift from it, and removing files by that list would
# delete them behind the package manager's back.
if(CORVIMUS_PACKAGE_MANAGER)
  return()
endif()

set(corvimus_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(corvimus_receipts "${corvimus_root}/${CORVIMUS_INSTALL_RECEIPTS}")
set(corvimus_pkg "${corvimus_receipts}/Corvimus.pkg")

# Relative names resolve inside the prefix and absolute ones anywhere, so `cd <prefix> && xargs
# -d '\n' rm -f -- < Archive.txt` removes every file the installation put anywhere.
set(corvimus_files "")
# The manifest names files without DESTDIR, as they lie on the installed system.
set(corvimus_prefix "${CMAKE_INSTALL_PREFIX}")
foreach(f IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  cmake_path(IS_PREFIX corvimus_prefix "${f}" NORMALIZE corvimus_inside)
  if(corvimus_inside)
    file(RELATIVE_PATH f "${corvimus_prefix}" "${f}")
  endif()
  list(APPEND corvimus_files "${f}")
endforeach()
list(REMOVE_DUPLICATES corvimus_files)
list(SORT corvimus_files)
list(LENGTH corvimus_files CORVIMUS_FILE_COUNT)
list(JOIN corvimus_files "\n" corvimus_list)

string(TIMESTAMP CORVIMUS_INSTALL_DATE "%Y-%m-%dT%H:%M:%SZ" UTC)
set(CORVIMUS_PREFIX_XML "${CMAKE_INSTALL_PREFIX}")
string(REPLACE "&" "&amp;" CORVIMUS_PREFIX_XML "${CORVIMUS_PREFIX_XML}")
string(REPLACE "<" "&lt;" CORVIMUS_PREFIX_XML "${CORVIMUS_PREFIX_XML}")
string(REPLACE ">" "&gt;" CORVIMUS_PREFIX_XML "${CORVIMUS_PREFIX_XML}")
set(CORVIMUS_PREFIX_RTF "${CMAKE_INSTALL_PREFIX}")
string(REPLACE "\\" "\\\\" CORVIMUS_PREFIX_RTF "${CORVIMUS_PREFIX_RTF}")
string(REPLACE "{" "\\{" CORVIMUS_PREFIX_RTF "${CORVIMUS_PREFIX_RTF}")
string(REPLACE "}" "\\}" CORVIMUS_PREFIX_RTF "${CORVIMUS_PREFIX_RTF}")

file(REMOVE_RECURSE "${corvimus_pkg}")
foreach(pair "Info.plist.in|${corvimus_pkg}/Contents/Info.plist"
             "Corvimus Log.rtf.in|${corvimus_receipts}/Corvimus Log.rtf")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 template)
  list(GET pair 1 out)
  file(READ "${CORVIMUS_RECEIPT_TEMPLATES}/${template}" text)
  string(CONFIGURE "${text}" text @ONLY)
  message(STATUS "Installing: ${out}")
  file(WRITE "${out}" "${text}")
endforeach()
message(STATUS "Installing: ${corvimus_pkg}/Contents/Archive.txt")
file(WRITE "${corvimus_pkg}/Contents/Archive.txt" "${corvimus_list}\n")
set(corvimus_installed "${CMAKE_INSTALL_PREFIX}/${CORVIMUS_INSTALL_RECEIPTS}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${corvimus_installed}/Corvimus.pkg/Contents/Info.plist"
     "${corvimus_installed}/Corvimus.pkg/Contents/Archive.txt"
     "${corvimus_installed}/Corvimus Log.rtf")
