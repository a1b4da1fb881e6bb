// How a panel script library marks its one export, load_vesk_client_script,
// so that the host finds it by name: dllexport in the DLL, default visibility
// in the shared object (everything else in it is hidden).
#ifndef SCRIPT_EXPORT_H
#define SCRIPT_EXPORT_H

#if defined(_WIN32)
#define SCRIPT_EXPORT __declspec(dllexport)
#else
#define SCRIPT_EXPORT __attribute__((visibility("default")))
#endif

#endif
