// The Base64 stream codecs of mail attachments.
#include "formats/codecs.h"

namespace zelsync {
namespace formats {
namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kGroupsPerLine = 18;
constexpr unsigned char kSkip = 0xFF;

// The value of each byte of the alphabet; kSkip for every other byte.
struct DecodeTable {
  unsigned char value[256];
  DecodeTable() {
    for (unsigned char& v : value) v = kSkip;
    for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
  }
};
const DecodeTable kDecode;

// Writes the four characters of one group of `size` (1 to 3) bytes.
char* PutGroup(const unsigned char* in, size_t size, char* out) {
  const uint32_t bits = (uint32_t{in[0]} << 16) | (uint32_t{size > 1 ? in[1] : 0u} << 8) |
                        uint32_t{size > 2 ? in[2] : 0u};
  out[0] = kAlphabet[(bits >> 18) & 63];
  out[1] = kAlphabet[(bits >> 12) & 63];
  out[2] = size > 1 ? kAlphabet[(bits >> 6) & 63] : '=';
  out[3] = size > 2 ? kAlphabet[bits & 63] : '=';
  return out + 4;
}

}  // namespace

void Base64Encoder::Update(const unsigned char* data, size_t size, std::string* out) {
  // The text of this call, at most: a group per three bytes (one more for
  // those left over from the last call) and a line end per 18 groups. The
  // string is sized once and filled in place.
  const size_t groups = (pending_size_ + size) / 3;
  const size_t old_size = out->size();
  out->resize(old_size + groups * 4 + (groups / kGroupsPerLine + 1) * line_end_.size());
  char* p = &(*out)[old_size];
  size_t i = 0;
  auto end_group = [&] {
    if (++groups_on_line_ == kGroupsPerLine) {
      for (char c : line_end_) *p++ = c;
      groups_on_line_ = 0;
    }
  };
  // Complete a group left over from the previous call.
  while (pending_size_ > 0 && pending_size_ < 3 && i < size) pending_[pending_size_++] = data[i++];
  if (pending_size_ == 3) {
    p = PutGroup(pending_, 3, p);
    pending_size_ = 0;
    end_group();
  }
  for (; i + 3 <= size; i += 3) {
    p = PutGroup(data + i, 3, p);
    end_group();
  }
  while (i < size) pending_[pending_size_++] = data[i++];
  out->resize(static_cast<size_t>(p - out->data()));
}

void Base64Encoder::Finish(std::string* out) {
  if (pending_size_ > 0) {
    char group[4];
    PutGroup(pending_, pending_size_, group);
    out->append(group, 4);
    pending_size_ = 0;
    ++groups_on_line_;
  }
  if (groups_on_line_ > 0) out->append(line_end_);
  groups_on_line_ = 0;
}

void Base64Decoder::Update(const char* data, size_t size, std::string* out) {
  const size_t old_size = out->size();
  out->resize(old_size + (count_ + size) / 4 * 3);
  char* p = &(*out)[old_size];
  uint32_t bits = bits_;
  int count = count_;
  for (size_t i = 0; i < size; ++i) {
    const unsigned char v = kDecode.value[static_cast<unsigned char>(data[i])];
    if (v == kSkip) continue;
    bits = (bits << 6) | v;
    if (++count == 4) {
      *p++ = static_cast<char>(bits >> 16);
      *p++ = static_cast<char>(bits >> 8);
      *p++ = static_cast<char>(bits);
      bits = 0;
      count = 0;
    }
  }
  bits_ = bits;
  count_ = count;
  out->resize(static_cast<size_t>(p - out->data()));
}

void Base64Decoder::Finish(std::string* out) {
  // The missing values count as 0; n values give n - 1 bytes.
  if (count_ > 1) {
    const uint32_t bits = bits_ << (6 * (4 - count_));
    const char bytes[3] = {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8),
                           static_cast<char>(bits)};
    out->append(bytes, static_cast<size_t>(count_ - 1));
  }
  bits_ = 0;
  count_ = 0;
}

}  // namespace formats
}  // namespace zelsync
