// A .zip of a few small files, stored as they are: all the page needs to
// hand over volspar's seven files as one download.

#ifndef WEB_ZIP_WRITER_H_
#define WEB_ZIP_WRITER_H_

// Writes the files `names` (at most 64 KiB each, in the current directory)
// into the archive `zip_name`; false if any cannot be read or written.
bool WriteZip(const char* zip_name, const char* const names[], int count);

#endif  // WEB_ZIP_WRITER_H_
