// Entry IDs of the local item store: the stable name of the item's file,
// without its extension or Maildir flags, as UTF-16.
//
// A name that is not valid UTF-8 still gets an entry ID: each byte that is
// not part of a valid UTF-8 sequence becomes the lone surrogate
// U+DC00 + byte, which no valid name can produce, so the mapping stays
// one-to-one and leaves every valid name as it is. A name whose ID would
// exceed 259 units (it cannot happen with names of at most 255 bytes) is
// cut and followed by "~" and a hash of the whole name.
#ifndef ZELSYNC_LOCAL_ENTRY_IDS_H
#define ZELSYNC_LOCAL_ENTRY_IDS_H

#include <string>

#include "platform/platform.h"

namespace zelsync {
namespace local {

constexpr size_t kMaxEntryIdLength = 259;

WString EntryIdFromStem(const std::string& stem);

// A fresh stem for an item the library creates: 16 hexadecimal digits of
// the creation time in microseconds, "-", 16 random hexadecimal digits.
// Names sort in creation order, so new items come after older ones.
std::string NewItemStem();

// A fresh unique name for a Maildir message:
// "<seconds>.M<microseconds>P<pid>R<random>.<host>".
std::string NewMaildirStem();

}  // namespace local
}  // namespace zelsync

#endif  // ZELSYNC_LOCAL_ENTRY_IDS_H
