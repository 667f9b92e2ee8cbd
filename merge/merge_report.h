// The ways d88merge shows what a comparison or a merge found: text for
// people and one JSON document for programs. Each renders the findings and
// decides nothing itself.

#ifndef MERGE_MERGE_REPORT_H_
#define MERGE_MERGE_REPORT_H_

#include "inspect/findings.h"
#include "inspect/json_writer.h"
#include "merge/merging.h"
#include "platform/text_out.h"

struct MergeReport {
  const MergeFindings* findings;
  bool merged;         // a merge into a new image, not a comparison alone
  bool forced;         // dumps of different disks were taken all the same
  const char* output;  // the new image's name, as given
  // The new image's findings, as d88info gives them; null when none.
  const ImageFindings* verdict;
};

// The dumps, the sectors listed, a line per disk, and the outcome: for a
// comparison, what a merge would leave unsettled; for a merge, the new
// image's verdict as `d88info -s` gives it.
void WriteMergeText(const MergeReport& report, TextOut* out);

// The same as one JSON document, format d88merge/1.
void WriteMergeJson(const MergeReport& report, JsonWriter* json);

#endif  // MERGE_MERGE_REPORT_H_
