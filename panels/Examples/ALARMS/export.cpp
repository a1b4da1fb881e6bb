// The library's one export: the host calls it once to create the panel.
#include "ALARMS.h"

#include "script_export.h"

extern "C" SCRIPT_EXPORT vesk_client_callback* load_vesk_client_script(vesk_client_callback* host,
                                                                       const char* path) {
    // The base's allocator does not throw: with no memory this is null.
    return new ALARMS(host, path);
}
