// The identification text the maker's tools look for in a script library's
// data. Nothing reads it at run time, so it is marked to survive the linker.
#if defined(_MSC_VER)
#pragma comment(linker, "/include:_vesk_script_signature")
#define KEEP_IN_BINARY
#else
#define KEEP_IN_BINARY __attribute__((used))
#endif

extern "C" KEEP_IN_BINARY const char vesk_script_signature[] =
    "VESK_SIG,name=vesk_script_helper,type=LIB,version=4.8.6.0,date=16/06/2017,"
    "author=Studio A SCR";
