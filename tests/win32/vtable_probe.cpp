// Compiled for the Microsoft ABI only to print the vtable layouts of the
// boundary classes; nothing runs.
#include "PELDAN.h"

struct HostSide : vesk_client_callback {
    void* callback(void*, int) override { return 0; }
};

vesk_client_callback* makeHostSide() { return new HostSide; }
void destroyScript(vesk_script_helper* script) { delete script; }
vesk_client_callback* makePanel() { return new PELDAN(0, ""); }
