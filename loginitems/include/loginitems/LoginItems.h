// Login items: registering and removing the agent in the current user's list of items the login
// window starts at login (see platform/LoginWindow.h for the file and its layout).
//
// Each call reads the whole property list (XML or binary), changes the item array in memory and
// writes the whole list back as XML through a temporary file, so the file is never half-written.
// Content whose root is not a dictionary, or whose item list is not an array, is left untouched and
// reported as resNotFound (-192); array elements that are not dictionaries are kept and never
// matched. Strings are UTF-8.
#pragma once

#include <string>

#include "platform/MacTypes.h"

struct FSRef;

// Most entries one call matches; later matching entries are left as they are.
inline constexpr int kMaxLoginItemMatches = 16;

// Registers itemPath (a full path) for the current user. Entries whose "Path" ends with the item's
// name (or with altSuffix, when given and not empty) are similar; an entry whose path equals
// itemPath ignoring letter case is an exact match. A single exact match leaves the file as it is.
// Otherwise the new entry is appended (no match, or similar ones with replaceSimilar zero) or takes
// the place of the first match, the other matches being removed. *outAlreadyPresent (may be null)
// is 1 when an exact match was found.
OSStatus AddLoginItem(const char* itemPath, const char* altSuffix, SInt16 hide,
                      SInt16 replaceSimilar, SInt16* outAlreadyPresent);

// Removes the current user's entries whose "Path" ends with suffix; *outCount (may be null)
// receives the number of matches (at most kMaxLoginItemMatches).
OSStatus RemoveLoginItem(const char* suffix, SInt16* outCount);

// The same for the user whose home folder is homeFolder (its Preferences folder is ".config").
OSStatus RemoveLoginItemForUser(const FSRef* homeFolder, const char* suffix, SInt16* outCount);

// The removal shared by the two above, on the Preferences folder prefsFolder.
OSStatus RemoveLoginItemsInFolder(const FSRef* prefsFolder, const char* suffix, SInt16* outCount);

// The same operations on a Preferences folder given by its path (used by the FSRef forms above,
// and by callers that have a path at hand).
OSStatus AddLoginItemInFolderPath(const std::string& prefsFolder, const char* itemPath,
                                  const char* altSuffix, SInt16 hide, SInt16 replaceSimilar,
                                  SInt16* outAlreadyPresent);
OSStatus RemoveLoginItemsInFolderPath(const std::string& prefsFolder, const char* suffix,
                                      SInt16* outCount);
// The same removal in the Preferences folder open as prefsFolderFd, for a caller that walks another
// user's folders by descriptor: the list is read and replaced inside that folder, a link standing
// in its place is never followed (resNotFound), and a missing list is not created (fnfErr).
OSStatus RemoveLoginItemsInFolderAt(int prefsFolderFd, const char* suffix, SInt16* outCount);

// Compares two UTF-8 strings ignoring letter case (simple case folding of each character; bytes
// that are not valid UTF-8 compare as they are).
bool EqualIgnoringCase(const std::string& a, const std::string& b);
