// Stand-ins for the CoreGraphics bundle, one per answer the session dictionary can give. The build
// compiles this file once per SESSION_BUNDLE_... choice.
#include <plist/plist.h>

#define EXPORT extern "C" __attribute__((visibility("default")))

#if defined(SESSION_BUNDLE_NO_FUNCTION)
EXPORT int CGSessionSomethingElse() {
  return 0;
}
#else
EXPORT plist_t CGSessionCopyCurrentDictionary() {
#if defined(SESSION_BUNDLE_NO_DICTIONARY)
  return nullptr;
#else
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "kCGSSessionUserIDKey", plist_new_uint(1000));
#if defined(SESSION_BUNDLE_NOT_ON_CONSOLE)
  plist_dict_set_item(dict, "kCGSSessionOnConsoleKey", plist_new_bool(0));
#elif defined(SESSION_BUNDLE_ON_CONSOLE)
  plist_dict_set_item(dict, "kCGSSessionOnConsoleKey", plist_new_bool(1));
#elif defined(SESSION_BUNDLE_NOT_A_BOOLEAN)
  plist_dict_set_item(dict, "kCGSSessionOnConsoleKey", plist_new_string("no"));
#endif
  return dict;
#endif
}
#endif
