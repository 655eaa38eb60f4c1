// vCards of the contacts folder. Cards are read in versions 2.1 (with
// quoted-printable values, CHARSET parameters and folded lines), 3.0 and
// 4.0; the store keeps 3.0 and 4.0 cards in their own version and turns a
// 2.1 card into 3.0, the version address-book programs read; the device
// gets 2.1, the version phones read.
#ifndef ZELSYNC_LOCAL_VCARD_H
#define ZELSYNC_LOCAL_VCARD_H

#include <optional>
#include <string>
#include <vector>

#include "local/versit.h"

namespace zelsync {
namespace local {

struct VCard {
  std::string version;                     // as written: "2.1", "3.0", "4.0"
  std::vector<VersitProperty> properties;  // of the card itself, without BEGIN, END, VERSION
};

// Reads the first vCard of `text`; false when there is none.
bool ParseVCard(const std::string& text, VCard* card);

// FN as UTF-8 text; when the card has no FN, the name built from N
// (prefix, given, additional names, family name, suffix); nullopt when the
// card has neither.
std::optional<std::string> VCardFullName(const VCard& card);

// The card as the store keeps it: 3.0 or 4.0, with an FN (built from N when
// missing) and a UID (`uid` when missing).
std::string VCardForStore(const VCard& card, const std::string& uid);

// The card as vCard 2.1 for a phone: UTF-8, quoted-printable for values
// that are not plain ASCII, bare type parameters, an N and an FN.
std::string VCardAs21(const VCard& card);

}  // namespace local
}  // namespace zelsync

#endif  // ZELSYNC_LOCAL_VCARD_H
