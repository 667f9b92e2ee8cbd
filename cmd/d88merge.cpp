// d88merge: compares dumps of the same disks, D88 images read on different
// days or drives, and merges them into one image of their best sectors.

#include "merge/merge_command.h"
#include "platform/command_main.h"

int Run(int argc, char** argv) { return MergeCommand(argc, argv); }
