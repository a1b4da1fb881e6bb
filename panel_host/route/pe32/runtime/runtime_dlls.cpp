#include "runtime_dlls.h"

RuntimeDlls servedRuntimeDlls() {
    return {&ucrtbaseDll, &kernel32Dll};
}
