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

void PutGroup(const unsigned char* in, size_t size, std::string* out) {
  const uint32_t bits = (uint32_t{in[0]} << 16) | (uint32_t{size > 1 ? in[1] : 0u} << 8) |
                        uint32_t{size > 2 ? in[2] : 0u};
  out->push_back(kAlphabet[(bits >> 18) & 63]);
  out->push_back(kAlphabet[(bits >> 12) & 63]);
  out->push_back(size > 1 ? kAlphabet[(bits >> 6) & 63] : '=');
  out->push_back(size > 2 ? kAlphabet[bits & 63] : '=');
}

}  // namespace

void Base64Encoder::Update(const unsigned char* data, size_t size, std::string* out) {
  size_t i = 0;
  // Complete a group left over from the previous call.
  while (pending_size_ > 0 && pending_size_ < 3 && i < size) pending_[pending_size_++] = data[i++];
  if (pending_size_ == 3) {
    PutGroup(pending_, 3, out);
    pending_size_ = 0;
    if (++groups_on_line_ == kGroupsPerLine) {
      out->append(line_end_);
      groups_on_line_ = 0;
    }
  }
  for (; i + 3 <= size; i += 3) {
    PutGroup(data + i, 3, out);
    if (++groups_on_line_ == kGroupsPerLine) {
      out->append(line_end_);
      groups_on_line_ = 0;
    }
  }
  while (i < size) pending_[pending_size_++] = data[i++];
}

void Base64Encoder::Finish(std::string* out) {
  if (pending_size_ > 0) {
    PutGroup(pending_, pending_size_, out);
    pending_size_ = 0;
    ++groups_on_line_;
  }
  if (groups_on_line_ > 0) out->append(line_end_);
  groups_on_line_ = 0;
}

void Base64Decoder::Update(const char* data, size_t size, std::string* out) {
  for (size_t i = 0; i < size; ++i) {
    const unsigned char v = kDecode.value[static_cast<unsigned char>(data[i])];
    if (v == kSkip) continue;
    values_[count_++] = v;
    if (count_ == 4) {
      const uint32_t bits = (values_[0] << 18) | (values_[1] << 12) | (values_[2] << 6) | values_[3];
      out->push_back(static_cast<char>(bits >> 16));
      out->push_back(static_cast<char>((bits >> 8) & 0xFF));
      out->push_back(static_cast<char>(bits & 0xFF));
      count_ = 0;
    }
  }
}

void Base64Decoder::Finish(std::string* out) {
  if (count_ > 0) {
    for (int i = count_; i < 4; ++i) values_[i] = 0;
    const uint32_t bits = (values_[0] << 18) | (values_[1] << 12) | (values_[2] << 6) | values_[3];
    const char bytes[3] = {static_cast<char>(bits >> 16), static_cast<char>((bits >> 8) & 0xFF),
                           static_cast<char>(bits & 0xFF)};
    out->append(bytes, static_cast<size_t>(count_ - 1));
  }
  count_ = 0;
}

}  // namespace formats
}  // namespace zelsync
