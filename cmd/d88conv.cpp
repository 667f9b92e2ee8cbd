// d88conv: makes D88 images of raw sector dumps and raw dumps of D88 disks,
// takes one disk out of an image, and joins images into one.

#include "conv/conv.h"
#include "platform/command_main.h"

int Run(int argc, char** argv) { return conv::ConvCommand(argc, argv); }
