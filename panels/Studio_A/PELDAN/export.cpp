// The library's one export: the host calls it once to create the panel.
#include "PELDAN.h"

#include "script_export.h"

extern "C" SCRIPT_EXPORT vesk_client_callback* load_vesk_client_script(vesk_client_callback* host,
                                                                       const char* path) {
    // PELDAN's allocator does not throw: with no memory this is null and no
    // constructor runs, so nothing is sent to the host.
    return new PELDAN(host, path);
}
