// How panel-host holds a script and offers its own callback object, for the
// C++ binary interface of the library it loads.
//
// Natively, host and script share one compiler and the boundary header.
// In the 32-bit Windows build, panel-host is built with MinGW g++ while the
// script follows Microsoft's interface, whose first slot is one "scalar
// deleting" destructor; so both sides are declared here without a virtual
// destructor: slot 0 destroy(flags), slot 1 callback. Both are __thiscall.
#ifndef SCRIPT_ABI_H
#define SCRIPT_ABI_H

#if defined(_WIN32) && defined(__GNUC__)

class ScriptObject {
  public:
    virtual void* destroy(unsigned int flags) = 0; // flags 1: delete the object
    virtual void* callback(void* data, int type) = 0;
};

// The host's side; the script never deletes it, so slot 0 is never called.
class HostCallbackBase {
  public:
    virtual void* destroy(unsigned int) { return this; }
    virtual void* callback(void* data, int type) = 0;
};

inline void deleteScript(ScriptObject* script) {
    script->destroy(1);
}

#else

#include "vesk_client_callback.h"

typedef vesk_client_callback ScriptObject;
typedef vesk_client_callback HostCallbackBase;

inline void deleteScript(ScriptObject* script) {
    delete script;
}

#endif

typedef ScriptObject* (*LoadScriptFunction)(HostCallbackBase* host, const char* path);

#endif
