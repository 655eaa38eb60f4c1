// Entry IDs of the local item store. An item's entry ID is the tag of its
// kind ("mail/", "notes/", "contacts/", "calendar/") followed by the stable
// name of its file, without extension or Maildir flags, as UTF-16. No file
// name holds a '/', so the tag keeps IDs unique across the whole store even
// where two folders hold files of the same name (vdir programs name events
// and contacts after UIDs, users copy files), and the record databases,
// which name items by entry ID, never confuse two items.
//
// A name that is not valid UTF-8 still gets an entry ID: each byte that is
// not part of a valid UTF-8 sequence becomes the lone surrogate
// U+DC00 + byte, which no valid name can produce, so the mapping stays
// one-to-one and leaves every valid name as it is. An ID that would exceed
// 259 units (a name of more than 250 bytes) is cut and followed by "~" and
// a hash of the tag and the whole name.
//
// The store once named items by the bare name; CarriedOverEntryId turns
// such an ID into the current one, so that the record databases of earlier
// sessions keep naming the same items.
#ifndef ZELSYNC_LOCAL_ENTRY_IDS_H
#define ZELSYNC_LOCAL_ENTRY_IDS_H

#include <string>

#include "local/store.h"
#include "platform/platform.h"

namespace zelsync {
namespace local {

constexpr size_t kMaxEntryIdLength = 259;

// The entry ID of the item named `stem` in `folder`. Mail keeps its ID when
// it moves from the drafts to the Inbox.
WString EntryIdOf(FolderKind folder, const std::string& stem);

// The stem of the item of `folder` whose entry ID is `id`, as far as the ID
// alone tells: kStem with the stem; kNone when no item the folder lists can
// have that ID (another folder's tag, or a name the listing passes over:
// one with a '/', or a scratch file's leading '.'); kUnknown when only the
// folder's items can tell (an ID that may have been cut and hashed).
enum class StemOfId { kStem, kNone, kUnknown };
StemOfId StemOfEntryId(FolderKind folder, const WString& id, std::string* stem);

// The current entry ID for an ID of the earlier rule (the bare name) of an
// item of the sync object type `type`. False when `old_id` is empty, is
// already a current ID (it holds a '/') or `type` is not an object type:
// such an ID is left as it is.
bool CarriedOverEntryId(int type, const WString& old_id, WString* id);

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
