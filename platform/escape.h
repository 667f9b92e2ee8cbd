// Bytes from images and command lines, shown so that they stay on one line
// and read back unambiguously.

#ifndef PLATFORM_ESCAPE_H_
#define PLATFORM_ESCAPE_H_

#include <cstdio>

// A disk name in double quotes, with control bytes, quotes and backslashes
// as \xNN.
void PrintQuoted(std::FILE* out, const char* text);
// A path, in double quotes if `quoted`, with control bytes and quotes as
// \xNN; backslashes stay, since they separate the parts of Windows paths.
void PrintPath(std::FILE* out, const char* path, bool quoted);

#endif  // PLATFORM_ESCAPE_H_
