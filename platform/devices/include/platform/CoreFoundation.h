// The few Core Foundation objects the IOKit calls hand out: reference-counted objects and the
// matching dictionary. Nothing here is a general container; a dictionary holds text keys and
// values.
#pragma once

#include "platform/MacTypes.h"

using CFIndex = long;
using CFTypeRef = const void*;
using CFDictionaryRef = const struct __CFDictionary*;
using CFMutableDictionaryRef = struct __CFDictionary*;

// Adds one reference and returns the object. Null is refused (returns null) instead of crashing.
CFTypeRef CFRetain(CFTypeRef object);
// Drops one reference; the last one frees the object.
void CFRelease(CFTypeRef object);
CFIndex CFGetRetainCount(CFTypeRef object);

// A new empty dictionary with one reference.
CFMutableDictionaryRef CFDictionaryCreateMutable();
// A new dictionary with the same entries and one reference; null for null.
CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFDictionaryRef dict);
// Sets key to value (both copied). Returns false for a null dictionary or key.
bool CFDictionarySetCString(CFMutableDictionaryRef dict, const char* key, const char* value);
// The value for key, or null. Valid while the dictionary lives and the key is not set again.
const char* CFDictionaryGetCString(CFDictionaryRef dict, const char* key);
CFIndex CFDictionaryGetCount(CFDictionaryRef dict);
