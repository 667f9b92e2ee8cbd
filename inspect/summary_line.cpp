#include "inspect/views.h"

namespace {

void PutWords(TextOut* out, const char* const* words, int count) {
  for (int w = 0; w < count; ++w) {
    if (w > 0) out->Put(", ");
    out->Put(words[w]);
  }
}

}  // namespace

void WriteSummaryLine(const char* path, const ImageFindings& image,
                      TextOut* out) {
  out->Path(path, true);
  out->Put(": ");
  if (!image.d88) {
    out->Put("not a D88 image\n");
    return;
  }
  out->Int(image.disks);
  out->Put(image.disks == 1 ? " disk, " : " disks, ");
  char health[kHealthPhraseSize];
  HealthPhrase(image.health, health, sizeof health);
  out->Put(health);
  out->Put("; volspar: ");
  const char* words[2];
  PutWords(out, words, VolsparWords(image.files, words));
  out->Put('\n');
}
