// The few Win32 functions the check programs call, declared here because
// Wine's windows.h does not compile for this target.
#ifndef WIN32_API_H
#define WIN32_API_H

extern "C" {
__declspec(dllimport) void* __stdcall LoadLibraryA(const char* file);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) int __stdcall FreeLibrary(void* module);
__declspec(dllimport) unsigned long __stdcall GetFileVersionInfoSizeA(const char* file,
                                                                      unsigned long* handle);
__declspec(dllimport) int __stdcall GetFileVersionInfoA(const char* file, unsigned long handle,
                                                        unsigned long bytes, void* data);
__declspec(dllimport) int __stdcall VerQueryValueA(const void* block, const char* key,
                                                   void** value, unsigned int* bytes);
}

#endif
