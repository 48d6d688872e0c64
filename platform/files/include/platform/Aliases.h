// Alias Manager: alias records naming an item, and alias files (a file flagged kIsAlias whose
// resource fork holds the record as resource 'alis' 0).
//
// The alias record is this system's own format (all integers big-endian):
//
//   off size meaning
//   0   4    signature 'CVal'
//   4   2    version, 1
//   6   2    length of the whole record
//   8   2    kind of target when the record was made: 0 file, 1 folder, 2 symbolic link, 3 other
//   10  2    length n of the path (1..4095)
//   12  8    volume identity: the device number of the target's file system
//   20  8    file identity: the target's inode number
//   28  n    absolute path of the target, UTF-8, not terminated
//
// Every alias is absolute. Resolution goes by the path, with lstat semantics (a symbolic link is
// the target itself, never followed); when the item found there is not the one recorded (other
// volume or inode: the item was replaced, for instance by an update) it still resolves, and
// wasChanged says so. A record that does not follow the format is paramErr; a target that is gone
// is fnfErr.
#pragma once

#include "platform/FileRefs.h"
#include "platform/MacTypes.h"

using AliasHandle = Handle;

enum : OSType { kAliasRecordSignature = FourCC("CVal"), kAliasResourceType = FourCC("alis") };
enum : UInt16 { kAliasRecordVersion = 1, kAliasRecordHeaderSize = 28 };

// Alias chains longer than this are refused, as are chains that come back to an alias file they
// passed (both errAliasChainLoop).
enum { kMaxAliasChainHops = 10 };
enum : OSErr { errAliasChainLoop = -5554 };

// Makes an alias record of target; fromFile is accepted for the interface's sake and ignored
// (all aliases are absolute). The handle belongs to the caller.
OSErr FSNewAlias(const FSRef* fromFile, const FSRef* target, AliasHandle* inAlias);

// The item an alias record names.
OSErr FSResolveAlias(const FSRef* fromFile, AliasHandle alias, FSRef* target, Boolean* wasChanged);

// When theRef is an alias file, replaces it by the item its alias names; with resolveAliasChains,
// again while the result is an alias file. An item that is no alias file is left as it is
// (wasAliased false). An alias file whose resource fork or record is damaged is an error, never a
// crash; theRef is changed only on success.
OSErr FSResolveAliasFile(FSRef* theRef, Boolean resolveAliasChains, Boolean* targetIsFolder,
                         Boolean* wasAliased);
OSErr ResolveAliasFile(FSSpec* theSpec, Boolean resolveAliasChains, Boolean* targetIsFolder,
                       Boolean* wasAliased);
