// Writes a new D88 image, disk by disk: each disk's header, then its tracks
// in track order, each track's records back to back. A disk's size field
// and track table are known only once its tracks are written, so its header
// goes in last, over the place kept for it; the file must take seeks (a
// new file beside the target, or a scratch file).

#ifndef MERGE_IMAGE_WRITER_H_
#define MERGE_IMAGE_WRITER_H_

#include <cstdint>

#include "d88/d88_file.h"
#include "platform/output_file.h"

class ImageWriter {
 public:
  // buffer_ is left unset: only the bytes Put has copied there go out.
  // cppcheck-suppress uninitMemberVar
  ImageWriter() = default;
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;

  // Starts an image in `out`, which is open and empty.
  void Start(OutputFile* out);
  // Keeps the place of a disk's header.
  bool BeginDisk();
  // The records that follow are track `track`'s.
  void BeginTrack(int track);
  // A record: `info`'s header fields, with `length` bytes of `data` as its
  // data and data size.
  bool PutRecord(const d88::SectorInfo& info, const uint8_t* data, int length);
  // Writes the disk's header: `name` (up to 16 bytes), media type and
  // write protection, the disk's size and its track table.
  bool EndDisk(const char* name, int media_type, int write_protect);
  // Hands the last bytes to the file; the caller commits it.
  bool Finish();

  // The image would pass the 2 GiB that the format's offsets reach.
  bool too_large() const { return too_large_; }
  // Why a write or a seek failed: its errno value; 0 if none did.
  int error() const { return error_; }

 private:
  bool Put(const uint8_t* bytes, int length);
  bool Drain();
  // Records a failed write or seek, and its errno value; returns false.
  bool Fail();

  static constexpr int kBufferSize = 1 << 16;

  OutputFile* out_ = nullptr;
  int64_t position_ = 0;     // bytes of the image so far
  int64_t buffer_base_ = 0;  // the image offset of buffer_[0]
  int64_t disk_start_ = 0;
  int32_t table_[d88::D88File::kMaxTracks] = {};
  bool too_large_ = false;
  bool failed_ = false;
  int error_ = 0;
  int length_ = 0;
  uint8_t buffer_[kBufferSize];
};

#endif  // MERGE_IMAGE_WRITER_H_
