#include "merge/image_writer.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

using d88::D88File;

// The name field of a disk header, without its terminating NUL.
constexpr int kNameLength = 16;

}  // namespace

void ImageWriter::Start(OutputFile* out) {
  out_ = out;
  position_ = 0;
  buffer_base_ = 0;
  disk_start_ = 0;
  too_large_ = false;
  failed_ = false;
  error_ = 0;
  length_ = 0;
}

bool ImageWriter::BeginDisk() {
  disk_start_ = position_;
  std::memset(table_, 0, sizeof table_);
  static constexpr uint8_t kBlank[D88File::kDiskHeaderSize] = {};
  return Put(kBlank, D88File::kDiskHeaderSize);
}

void ImageWriter::BeginTrack(int track) {
  if (track >= 0 && track < D88File::kMaxTracks) {
    table_[track] = static_cast<int32_t>(position_ - disk_start_);
  }
}

bool ImageWriter::PutRecord(const d88::SectorInfo& info, const uint8_t* data,
                            int length) {
  d88::SectorInfo written = info;
  written.data_size = length;
  uint8_t header[D88File::kSectorHeaderSize];
  D88File::EncodeRecordHeader(written, header);
  return Put(header, D88File::kSectorHeaderSize) && Put(data, length);
}

bool ImageWriter::EndDisk(const char* name, int media_type, int write_protect) {
  d88::DiskHeader header = {};
  for (int i = 0; i < kNameLength && name[i] != '\0'; ++i) {
    header.name[i] = name[i];
  }
  header.media_type = media_type;
  header.write_protect = write_protect;
  header.size = static_cast<int32_t>(position_ - disk_start_);
  std::memcpy(header.track_table, table_, sizeof table_);
  uint8_t bytes[D88File::kDiskHeaderSize];
  D88File::EncodeDiskHeader(header, bytes);
  if (failed_) return false;
  // A disk smaller than the buffer is patched there, without a seek.
  if (disk_start_ >= buffer_base_) {
    std::memcpy(buffer_ + (disk_start_ - buffer_base_), bytes, sizeof bytes);
    return true;
  }
  // Offsets stay below 2 GiB, which a long holds on every system.
  std::FILE* stream = out_->stream();
  if (!Drain()) return false;
  if (std::fseek(stream, static_cast<long>(disk_start_), SEEK_SET) != 0 ||
      !out_->Write(bytes, sizeof bytes) ||
      std::fseek(stream, 0, SEEK_END) != 0) {
    return Fail();
  }
  return true;
}

bool ImageWriter::Finish() { return !failed_ && Drain(); }

bool ImageWriter::Put(const uint8_t* bytes, int length) {
  if (failed_) return false;
  if (position_ + length > INT32_MAX) {
    too_large_ = true;
    failed_ = true;
    return false;
  }
  position_ += length;
  while (length > 0) {
    if (length_ == kBufferSize && !Drain()) return false;
    const int room = kBufferSize - length_;
    const int part = length < room ? length : room;
    std::memcpy(buffer_ + length_, bytes, static_cast<size_t>(part));
    length_ += part;
    bytes += part;
    length -= part;
  }
  return true;
}

bool ImageWriter::Drain() {
  if (length_ > 0 && !out_->Write(buffer_, static_cast<size_t>(length_))) {
    return Fail();
  }
  buffer_base_ += length_;
  length_ = 0;
  return true;
}

bool ImageWriter::Fail() {
  failed_ = true;
  error_ = errno != 0 ? errno : EIO;
  return false;
}
