// d88merge: compares dumps of the same disks, D88 images read on different
// days or drives, and merges them into one image of their best sectors;
// the whole command, apart from its entry point.

#ifndef MERGE_MERGE_COMMAND_H_
#define MERGE_MERGE_COMMAND_H_

// Runs d88merge on UTF-8 arguments; returns the exit status.
int MergeCommand(int argc, char** argv);

#endif  // MERGE_MERGE_COMMAND_H_
