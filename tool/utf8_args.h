// Windows hands a program its arguments in UTF-16; the commands, and the
// paths they give the reader, use UTF-8.

#ifndef TOOL_UTF8_ARGS_H_
#define TOOL_UTF8_ARGS_H_

#ifdef _WIN32
// Converts `wargv` into static storage and points `*argv` at it; false if an
// argument is not valid UTF-16 or the storage is full.
bool Utf8Arguments(int argc, wchar_t** wargv, char*** argv);
#endif

#endif  // TOOL_UTF8_ARGS_H_
