// The library's one export: the host calls it once to create the panel.
#include "ALARMS.h"

#if defined(_WIN32)
#define SCRIPT_EXPORT __declspec(dllexport)
#else
#define SCRIPT_EXPORT __attribute__((visibility("default")))
#endif

extern "C" SCRIPT_EXPORT vesk_client_callback* load_vesk_client_script(vesk_client_callback* host,
                                                                       const char* path) {
    // The base's allocator does not throw: with no memory this is null.
    return new ALARMS(host, path);
}
