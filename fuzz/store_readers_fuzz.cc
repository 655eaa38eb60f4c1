// The local store's vCard and vCalendar/iCalendar readers on arbitrary
// text, and the conversions a received item goes through.
#include <string>

#include "local/calendar_text.h"
#include "local/vcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelsync::local;
  const std::string text(reinterpret_cast<const char*>(data), size);
  VCard card;
  if (ParseVCard(text, &card)) {
    VCardFullName(card);
    VCardForStore(card, "uid");
    VCardAs21(card);
  }
  LooksLikeCalendar(text);
  if (IcalPtr calendar = ParseCalendarText(text)) {
    StoredCalendar(calendar.get(), "uid");
  }
  return 0;
}
