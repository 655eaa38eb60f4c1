// Attachment files in the temporary folder: the file name an attachment is
// saved under, and their removal. Names come from mails and from received
// files, so they are taken apart before they reach a path.
#ifndef ZELSYNC_FORMATS_ATTACHMENT_NAME_H
#define ZELSYNC_FORMATS_ATTACHMENT_NAME_H

#include <optional>

#include "platform/platform.h"

namespace zelsync {
namespace formats {

// The units a path of the library holds, terminator excluded.
constexpr size_t kMaxPathLength = 259;

// The final component of `name`: every directory part (up to the last "\"
// or "/") and a drive such as "C:" are dropped. No name when what is left is
// empty, only dots (".", ".."), holds a control character or a ":" (an
// alternate data stream on Windows), or is a device name of Windows (CON,
// PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with or without an extension).
std::optional<WString> AttachmentFileName(const WString& name);

// True when `name` names a device on Windows (CON, PRN, AUX, NUL, COM1 to
// COM9, LPT1 to LPT9, in any case, with or without an extension).
bool IsDeviceName(const WString& name);

// `folder` (ending in a separator) followed by `file_name`, or no path when
// it would be longer than kMaxPathLength.
std::optional<WString> PathInFolder(const WString& folder, const WString& file_name);

// True when both paths name the same file as far as the text tells: equal
// but for the case of ASCII letters, as Windows compares names.
bool SamePath(const WString& a, const WString& b);

// Removes the file `path` when it goes out of scope, on every path out of
// the code that made it. Declared before the file is opened, so the file is
// closed first.
class RemoveWhenDone {
 public:
  explicit RemoveWhenDone(const WString& path) : path_(path) {}
  ~RemoveWhenDone();
  RemoveWhenDone(const RemoveWhenDone&) = delete;
  RemoveWhenDone& operator=(const RemoveWhenDone&) = delete;

 private:
  const WString& path_;
};

}  // namespace formats
}  // namespace zelsync

#endif  // ZELSYNC_FORMATS_ATTACHMENT_NAME_H
