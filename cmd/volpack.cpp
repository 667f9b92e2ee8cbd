// volpack: puts edited TRV01.BIN ... TRV07.BIN from the current directory
// back into a copy of the D88 image they were extracted from, at exactly
// the bytes volspar took them from.

#include "pack/volpack.h"

#include "platform/command_main.h"

int Run(int argc, char** argv) { return VolpackCommand(argc, argv); }
