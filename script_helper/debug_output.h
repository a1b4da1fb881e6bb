// Where the script's diagnostic lines go: the system debug output on Windows,
// standard error elsewhere. The text is written as given, without a line end.
#ifndef DEBUG_OUTPUT_H
#define DEBUG_OUTPUT_H

void writeDebugOutput(const char* text);

#if !defined(_WIN32)
// Native builds: a sink that receives each line instead of standard error
// (null restores standard error). Runs on the thread that writes the line.
typedef void (*debugOutputSink)(const char* text, void* context);
void setDebugOutputSink(debugOutputSink sink, void* context);
#endif

#endif
