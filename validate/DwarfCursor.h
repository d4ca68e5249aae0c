// DWARF's bytes read in order, in place, up to an end that no read passes: a
// read past it fails, and so does every read after it (`ok`). Shared by the
// readers of call-frame rules (UnwindTable) and line tables (LineTable).
#ifndef VALIDATE_DWARFCURSOR_H
#define VALIDATE_DWARFCURSOR_H

#include <cstddef>
#include <cstdint>

struct DwarfCursor {
  const unsigned char* bytes;
  size_t at;
  size_t end;
  bool ok = true;

  bool More() const { return ok && at < end; }
  uint32_t Byte() {
    if (!More()) {
      ok = false;
      return 0;
    }
    return bytes[at++];
  }
  // `count` bytes, little-endian, at most 8.
  uint64_t Wide(int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i) value |= uint64_t{Byte()} << (8 * i);
    return value;
  }
  // `count` bytes, little-endian, at most 4.
  uint32_t Fixed(int count) { return static_cast<uint32_t>(Wide(count)); }
  // ULEB128; bits past 32 are dropped.
  uint32_t Unsigned() {
    uint32_t value = 0;
    for (int shift = 0;; shift += 7) {
      const uint32_t byte = Byte();
      if (shift < 32) value |= (byte & 0x7f) << shift;
      if (!ok || (byte & 0x80) == 0) return value;
    }
  }
  // SLEB128.
  int32_t Signed() {
    uint32_t value = 0;
    int shift = 0;
    uint32_t byte = 0;
    do {
      byte = Byte();
      if (shift < 32) value |= (byte & 0x7f) << shift;
      shift += 7;
    } while (ok && (byte & 0x80) != 0);
    if (shift < 32 && (byte & 0x40) != 0) value |= ~uint32_t{0} << shift;
    return static_cast<int32_t>(value);
  }
  void Skip(uint64_t count) {
    if (count > end - at) ok = false;
    at = ok ? at + static_cast<size_t>(count) : end;
  }
};

#endif  // VALIDATE_DWARFCURSOR_H
