#include "runs/packing.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/text_out.h"
#include "runs/extraction.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

void PutId(std::FILE* out, const d88::RunStep& step) {
  std::fprintf(out, "%d/%d/%d/%d", step.c, step.h, step.r, step.n);
}

// Copies `size` bytes of the file at `from` to `out`: in large blocks,
// through the system's copy call where there is one.
bool CopyImage(const char* from, int64_t size, OutputFile* out) {
  static uint8_t block[1 << 16];
  d88::D88File image;
  if (!image.Open(from)) {
    errno = image.GetOpenError() != 0 ? image.GetOpenError() : EIO;
    return false;
  }
#if defined(__linux__)
  // The kernel copies (or shares) the blocks itself, with no trip through
  // this process.
  const int source = open(from, O_RDONLY | O_CLOEXEC);
  if (source >= 0 && std::fflush(out->stream()) == 0) {
    const int target = fileno(out->stream());
    int64_t copied = 0;
    while (copied < size) {
      const ssize_t n = copy_file_range(source, nullptr, target, nullptr,
                                        static_cast<size_t>(size - copied), 0);
      if (n <= 0) break;
      copied += n;
    }
    close(source);
    if (copied == size) return true;
    // Not possible here (another file system, an old kernel): start over
    // the plain way.
    if (lseek(target, 0, SEEK_SET) != 0 || ftruncate(target, 0) != 0) {
      return false;
    }
  } else if (source >= 0) {
    close(source);
  }
#endif
  for (int64_t done = 0; done < size;) {
    const int want = static_cast<int>(
        std::min<int64_t>(size - done, static_cast<int64_t>(sizeof block)));
    const int got = image.ReadImageBytes(done, block, want);
    if (got <= 0) {
      errno = EIO;
      return false;
    }
    if (!out->Write(block, static_cast<size_t>(got))) return false;
    done += got;
  }
  return true;
}

}  // namespace

void PlanPacking(d88::D88File* reader, PackPlan* plan) {
  static uint8_t buffer[kWorkBufferSize];
  reader->SelectDisk(0);
  reader->SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
  plan->segment_count = 0;
  for (int row = 0; row < kExtractionRows; ++row) {
    const ExtractionEntry& entry = kExtractionTable[row];
    d88::RunTrace trace = {plan->steps[row], kMaxRunSteps, 0};
    reader->ReadSectors(entry.track, entry.c, entry.h, entry.r,
                        kExtractionSizeCode, buffer, entry.bytes_read, &trace);
    const int steps = std::min(trace.step_count, kMaxRunSteps);
    plan->step_count[row] = steps;
    const int begin = entry.write_offset;
    const int end = entry.write_offset + entry.write_length;
    // A short sector's bytes are at their place too; past the last step's
    // bytes, the file has none of the image's.
    int reached = 0;
    for (int i = 0; i < steps; ++i) {
      const d88::RunStep& step = plan->steps[row][i];
      const int from = std::max(i * kSectorSize, begin);
      const int to = std::min(i * kSectorSize + step.delivered, end);
      reached = i * kSectorSize + step.delivered;
      if (from >= to || step.offset < 0) continue;
      plan->segments[plan->segment_count++] = {
          row, i, from - begin, to - from,
          step.offset + (from - i * kSectorSize)};
    }
    plan->homeless[row] = reached < end ? steps - 1 : -1;
  }
}

bool CheckHomes(const PackPlan& plan, int row, std::FILE* err) {
  const int at = plan.homeless[row];
  if (at < 0) return true;
  const d88::RunStep& step = plan.steps[row][at];
  std::fprintf(err,
               "volpack: %s cannot go back: ", kExtractionTable[row].file_name);
  PutId(err, step);
  std::fprintf(err, " on track %d is ", step.track);
  if (step.result == d88::StepResult::kShortData) {
    const ExtractionEntry& entry = kExtractionTable[row];
    const int wanted =
        std::min(entry.bytes_read - at * kSectorSize, kSectorSize);
    std::fprintf(err, "short (%d of %d bytes)\n", step.delivered, wanted);
  } else {
    std::fprintf(err, "%s\n", MissingWords(step.result));
  }
  return false;
}

bool CheckAgreement(const PackPlan& plan, const uint8_t* const files[],
                    std::FILE* err) {
  bool agree = true;
  for (int a = 0; a < plan.segment_count; ++a) {
    const PackSegment& first = plan.segments[a];
    for (int b = a + 1; b < plan.segment_count; ++b) {
      const PackSegment& second = plan.segments[b];
      const int64_t from = std::max(first.image_offset, second.image_offset);
      const int64_t to = std::min(first.image_offset + first.length,
                                  second.image_offset + second.length);
      if (from >= to) continue;
      const uint8_t* x =
          files[first.row] + first.file_offset + (from - first.image_offset);
      const uint8_t* y =
          files[second.row] + second.file_offset + (from - second.image_offset);
      if (std::memcmp(x, y, static_cast<size_t>(to - from)) == 0) continue;
      std::fprintf(err, "volpack: %s and %s disagree on ",
                   kExtractionTable[first.row].file_name,
                   kExtractionTable[second.row].file_name);
      PutId(err, plan.steps[first.row][first.step]);
      std::fputc('\n', err);
      agree = false;
    }
  }
  return agree;
}

bool WritePacked(const char* image_path, int64_t image_size,
                 const char* new_path, const FileId* keep, const PackPlan& plan,
                 const uint8_t* const files[], OutputFile* out) {
  if (!out->Create(new_path, keep)) return false;
  if (!CopyImage(image_path, image_size, out)) return out->Abandon(errno);
  for (int i = 0; i < plan.segment_count; ++i) {
    const PackSegment& segment = plan.segments[i];
    if (!out->WriteAt(segment.image_offset,
                      files[segment.row] + segment.file_offset,
                      static_cast<size_t>(segment.length))) {
      return false;
    }
  }
  return out->Commit();
}
