#include "store/wide.h"

namespace zelsync {

namespace {
// The length of a field's text, or `units` when it has no terminator.
size_t FieldLength(const char16_t* field, size_t units) {
  size_t n = 0;
  while (n < units && field[n] != 0) ++n;
  return n;
}
}  // namespace

bool CopyBounded(char16_t* buffer, size_t units, const WString& text) {
  if (units == 0) return text.empty();
  size_t n = text.size() < units ? text.size() : units - 1;
  if (n) memcpy(buffer, text.data(), n * sizeof(char16_t));
  buffer[n] = 0;
  return n == text.size();
}

WString FieldText(const char16_t* field, size_t units) {
  return WString(field, FieldLength(field, units));
}

bool FieldEquals(const char16_t* a, const char16_t* b, size_t units) {
  for (size_t i = 0; i < units; ++i) {
    if (a[i] != b[i]) return false;
    if (a[i] == 0) return true;
  }
  return false;
}

bool FieldContains(const char16_t* field, const char16_t* needle, size_t units) {
  size_t length = FieldLength(field, units), needle_length = FieldLength(needle, units);
  if (needle_length == units || length == units) return false;
  return WString(field, length).find(WString(needle, needle_length)) != WString::npos;
}

bool BoundedPath::Append(const WString& part) {
  if (!ok_) return false;
  if (path_.size() + part.size() > kMaxWideLength) {
    path_.clear();
    ok_ = false;
    return false;
  }
  path_ += part;
  return true;
}

}  // namespace zelsync
