#include "platform/CoreFoundation.h"

#include <map>
#include <new>
#include <string>

// The dictionary is the only Core Foundation object this layer makes, so CFRetain and CFRelease
// know what they hold.
struct __CFDictionary {
  CFIndex retainCount = 1;
  std::map<std::string, std::string> values;
};

CFTypeRef CFRetain(CFTypeRef object) {
  if (!object) return nullptr;
  auto* dict = const_cast<__CFDictionary*>(static_cast<const __CFDictionary*>(object));
  ++dict->retainCount;
  return object;
}

void CFRelease(CFTypeRef object) {
  if (!object) return;
  auto* dict = const_cast<__CFDictionary*>(static_cast<const __CFDictionary*>(object));
  if (--dict->retainCount == 0) delete dict;
}

CFIndex CFGetRetainCount(CFTypeRef object) {
  if (!object) return 0;
  return static_cast<const __CFDictionary*>(object)->retainCount;
}

CFMutableDictionaryRef CFDictionaryCreateMutable() {
  return new (std::nothrow) __CFDictionary;
}

CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFDictionaryRef dict) {
  if (!dict) return nullptr;
  CFMutableDictionaryRef copy = CFDictionaryCreateMutable();
  if (copy) copy->values = dict->values;
  return copy;
}

bool CFDictionarySetCString(CFMutableDictionaryRef dict, const char* key, const char* value) {
  if (!dict || !key) return false;
  dict->values[key] = value ? value : "";
  return true;
}

const char* CFDictionaryGetCString(CFDictionaryRef dict, const char* key) {
  if (!dict || !key) return nullptr;
  auto it = dict->values.find(key);
  return it == dict->values.end() ? nullptr : it->second.c_str();
}

CFIndex CFDictionaryGetCount(CFDictionaryRef dict) {
  return dict ? static_cast<CFIndex>(dict->values.size()) : 0;
}
