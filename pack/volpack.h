// volpack: puts edited TRV01.BIN ... TRV07.BIN from the current directory
// back into a copy of the D88 image they were extracted from, at exactly
// the bytes volspar took them from; the whole command, apart from its
// entry point.

#ifndef PACK_VOLPACK_H_
#define PACK_VOLPACK_H_

#include <cstdio>

// Called with the new image's name once its bytes are written, before
// they are read back and checked: tests use it to spoil them.
using PackHook = void (*)(const char* path);

// Writes `new_image` from `image` and the TRV files, saying what it does on
// `out` and every refusal on `err`; returns the exit status.
int Volpack(const char* image, const char* new_image, std::FILE* out,
            std::FILE* err, PackHook written = nullptr);

// The command on UTF-8 arguments.
int VolpackCommand(int argc, char** argv);

#endif  // PACK_VOLPACK_H_
