#pragma once

#include <cstdio>

extern const char kKviDebugBanner[];

// Receives a finished diagnostic line instead of the output stream.
typedef int (*KviDebugHook)(const char* line);

// Writes one diagnostic line: "<function>: Line<line>  " followed by the printf-style message.
// Callers test their own debug level first and call only at 1 or more. No line feed is added.
int kviDebugPrint(const char* functionName, int line, const char* format, ...);

// Module-wide settings, empty at start; nothing in the tool sets them (tests do).
// A null stream means standard error; a null hook means the stream is written.
void kviDebugSetStream(std::FILE* stream);
void kviDebugSetHook(KviDebugHook hook);
