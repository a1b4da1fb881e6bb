#include "debug_output.h"

#if defined(_WIN32)

extern "C" __declspec(dllimport) void __stdcall OutputDebugStringA(const char* text);

void writeDebugOutput(const char* text) { OutputDebugStringA(text); }

#else

#include <stdio.h>

namespace {
debugOutputSink currentSink = 0;
void* currentContext = 0;
} // namespace

void setDebugOutputSink(debugOutputSink sink, void* context) {
    currentSink = sink;
    currentContext = context;
}

void writeDebugOutput(const char* text) {
    if (currentSink != 0) {
        currentSink(text, currentContext);
        return;
    }
    fputs(text, stderr);
    fflush(stderr);
}

#endif
