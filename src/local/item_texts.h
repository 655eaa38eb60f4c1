// Item files made and changed the way a person or a PIM program changes the
// store, built by the store's own format code: cards through the vCard code
// (3.0 with FN and UID, as a received card is kept), events through
// libical, mail through GMime. The command-line host's `store` commands use
// them; it writes the files itself, as another program would, so the change
// scanner reports these changes to the device (the store's own item writes
// are the library's, which are never reported back).
#ifndef ZELSYNC_LOCAL_ITEM_TEXTS_H
#define ZELSYNC_LOCAL_ITEM_TEXTS_H

#include <optional>
#include <string>
#include <vector>

#include "local/store.h"

namespace zelsync {
namespace local {

struct ItemFields {
  std::optional<std::string> name, phone, email;             // contact
  std::optional<std::string> summary, start, end, location;  // event: start, end as YYYYMMDD[THHMMSS[Z]]
  std::optional<std::string> text;                           // note; mail body
  std::optional<std::string> from, to, subject;              // mail
  std::vector<std::string> attachments;                      // mail: paths of files to attach
};

// True when `text` is a date (YYYYMMDD) or date-time (YYYYMMDDTHHMMSS,
// with Z for UTC) that exists: what an event's start and end may be.
bool IsItemTime(const std::string& text);

// The text of a new item of `folder` made from `fields`; a contact's or an
// event's UID is `uid`. False with a message in *error (a start that is not
// a date or date-time, a missing start, an attachment that cannot be read).
bool NewItemText(FolderKind folder, const ItemFields& fields, const std::string& uid, std::string* text,
                 std::string* error);

// `current` with the given fields changed (a contact's phone number keeps
// its TYPE); a card without UID gets `uid`. False with a message when
// `current` cannot be read as its kind or a field is refused.
bool EditedItemText(FolderKind folder, const std::string& current, const ItemFields& fields,
                    const std::string& uid, std::string* text, std::string* error);

// The text of a whole item handed over as a file, as the store keeps it: a
// card as 3.0 or 4.0 with FN and UID, an event as one iCalendar object, a
// message as it is once GMime reads it. False with a message when the text
// is not of the folder's kind.
bool ImportedItemText(FolderKind folder, const std::string& given, const std::string& uid, std::string* text,
                      std::string* error);

// A one-line description with decoded text: a contact's name, an event's
// summary and start, a note's first line, a mail's subject and sender.
std::string ItemSummary(FolderKind folder, const std::string& text);

}  // namespace local
}  // namespace zelsync

#endif  // ZELSYNC_LOCAL_ITEM_TEXTS_H
