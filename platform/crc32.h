// CRC-32 as zip, PNG and Ethernet use it: the reflected polynomial
// 0xEDB88320, started at and finished with all bits set. The project's one
// checksum: the zip writer's, and the one tools show for sector data.
//
// It runs eight bytes a step (slicing-by-8), loading them byte by byte so
// that the result does not depend on the host's byte order; a whole image's
// sectors go through it in about the time it takes to read them.

#ifndef PLATFORM_CRC32_H_
#define PLATFORM_CRC32_H_

#include <cstddef>
#include <cstdint>

// The CRC-32 of `size` bytes at `data`.
uint32_t Crc32(const uint8_t* data, size_t size);

// The CRC-32 of the bytes that gave `crc`, followed by `size` bytes at
// `data`: Crc32Extend(Crc32(a), b) is the CRC-32 of a then b, and
// Crc32Extend(0, ...) is Crc32(...).
uint32_t Crc32Extend(uint32_t crc, const uint8_t* data, size_t size);

#endif  // PLATFORM_CRC32_H_
