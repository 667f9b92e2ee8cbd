// d88merge: compares dumps of the same disks, D88 images read on different
// days or drives, and merges them into one image of their best sectors;
// the whole command, apart from its entry point.

#ifndef MERGE_MERGE_COMMAND_H_
#define MERGE_MERGE_COMMAND_H_

#include <cstdio>

// How MergeDumps reports and what it takes, one bit each.
enum MergeFlag : unsigned {
  kMergeJson = 1u << 0,   // the report as one JSON document
  kMergeForce = 1u << 1,  // go on with dumps that cannot be the same disk
};

// Compares the `count` dumps `paths` (2 to kMaxDumps) and, with an
// `output`, merges them into it, as d88merge does: the report and the
// lines after a merge go to `out` (to `err` when `output` is "-"), every
// refusal to `err`. Sets `*other_disks`, when given, to whether it refused
// dumps that cannot be the same disk (which kMergeForce would take).
// Returns the exit status.
int MergeDumps(const char* const paths[], int count, const char* output,
               unsigned flags, std::FILE* out, std::FILE* err,
               bool* other_disks = nullptr);

// Runs d88merge on UTF-8 arguments; returns the exit status.
int MergeCommand(int argc, char** argv);

#endif  // MERGE_MERGE_COMMAND_H_
