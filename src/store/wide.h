// Bounded UTF-16 strings: the 260-unit fields of the store records and of the
// exported interface, and the paths the library builds.
#ifndef ZELSYNC_STORE_WIDE_H
#define ZELSYNC_STORE_WIDE_H

#include <cstddef>
#include <cstring>

#include "platform/platform.h"

namespace zelsync {

// Units in every wide buffer of the interface and every string field of the
// store records, terminator included.
constexpr size_t kWideUnits = 260;
// The longest text such a buffer holds.
constexpr size_t kMaxWideLength = kWideUnits - 1;

// Copies `text` into `buffer` of `units` code units, always terminated;
// returns false when the text had to be cut.
bool CopyBounded(char16_t* buffer, size_t units, const WString& text);

// The text of a fixed field up to its terminator; a field without a
// terminator yields all of its units.
WString FieldText(const char16_t* field, size_t units = kWideUnits);

// True when both fields hold the same text, compared code unit by code unit
// up to and including the terminator. A field without a terminator equals
// nothing.
bool FieldEquals(const char16_t* a, const char16_t* b, size_t units = kWideUnits);

// True when the text of `field` contains the text of `needle` (the empty
// needle is contained in every field).
bool FieldContains(const char16_t* field, const char16_t* needle, size_t units = kWideUnits);

// A path built by appending parts, as long as the whole fits a 260-unit
// buffer. An append that does not fit spoils the path for good: it becomes
// empty, so every later file operation on it fails instead of reaching a
// truncated name that may belong to another file.
class BoundedPath {
 public:
  BoundedPath() = default;
  explicit BoundedPath(const WString& start) { Append(start); }
  bool Append(const WString& part);
  bool Append(char16_t unit) { return Append(WString(1, unit)); }
  bool ok() const { return ok_; }
  const WString& str() const { return path_; }

 private:
  WString path_;
  bool ok_ = true;
};

}  // namespace zelsync

#endif  // ZELSYNC_STORE_WIDE_H
