// Entry point of the Windows check programs, in place of the C++ runtime's.
extern "C" __declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
int main();
extern "C" void mainCRTStartup() { ExitProcess(static_cast<unsigned int>(main())); }
