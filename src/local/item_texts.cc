#include "local/item_texts.h"

#include <gmime/gmime.h>

#include <mutex>

#include "local/calendar_text.h"
#include "local/files.h"
#include "local/vcard.h"
#include "local/versit.h"

namespace zelsync {
namespace local {
namespace {

// ---- contacts ----

VersitProperty* FindProperty(VCard* card, const std::string& name) {
  for (VersitProperty& p : card->properties) {
    if (p.depth == 1 && p.name == name) return &p;
  }
  return nullptr;
}

// Sets the value (already in the card's escaping) of the first property
// `name`, keeping its parameters, or adds it with `params`.
void SetProperty(VCard* card, const std::string& name, const std::string& value,
                 std::vector<VersitParam> params = {}) {
  if (VersitProperty* p = FindProperty(card, name)) {
    p->value = value;
    return;
  }
  VersitProperty p;
  p.name = name;
  p.params = std::move(params);
  p.value = value;
  p.depth = 1;
  card->properties.push_back(std::move(p));
}

// N from a full name: the last word is the family name.
std::string StructuredName(const std::string& name) {
  std::string family = name, given;
  size_t space = name.rfind(' ');
  if (space != std::string::npos) {
    family = name.substr(space + 1);
    given = name.substr(0, space);
  }
  return EscapeText(family) + ";" + EscapeText(given) + ";;;";
}

void ApplyContactFields(const ItemFields& fields, VCard* card) {
  if (fields.name) {
    SetProperty(card, "FN", EscapeText(*fields.name));
    SetProperty(card, "N", StructuredName(*fields.name));
  }
  if (fields.phone) SetProperty(card, "TEL", EscapeText(*fields.phone), {{"TYPE", "CELL"}});
  if (fields.email) SetProperty(card, "EMAIL", EscapeText(*fields.email), {{"TYPE", "INTERNET"}});
}

// The card as the store keeps it, read back: 3.0 or 4.0 in their escaping.
bool NormalisedCard(const std::string& text, const std::string& uid, VCard* card) {
  VCard read;
  return ParseVCard(text, &read) && ParseVCard(VCardForStore(read, uid), card);
}

// ---- events ----

// A date (YYYYMMDD) or date-time (YYYYMMDDTHHMMSS, UTC with Z) that
// exists; anything else is refused.
bool ParseTime(const std::string& text, icaltimetype* time) {
  if (text.size() != 8 && text.size() != 15 && text.size() != 16) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool ok = i == 8 ? c == 'T' : i == 15 ? c == 'Z' : (c >= '0' && c <= '9');
    if (!ok) return false;
  }
  icaltimetype t = icaltime_from_string(text.c_str());
  if (icaltime_is_null_time(t) || !icaltime_is_valid_time(t)) return false;
  // A day or hour that does not exist is refused, not moved on.
  if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > icaltime_days_in_month(t.month, t.year) ||
      t.hour > 23 || t.minute > 59 || t.second > 59) {
    return false;
  }
  *time = t;
  return true;
}

bool ApplyEventFields(const ItemFields& fields, icalcomponent* event, std::string* error) {
  icaltimetype start = icalcomponent_get_dtstart(event);
  icaltimetype end = icalcomponent_get_dtend(event);
  // A time given without zone stays in the zone the event had.
  const icaltimezone* zone = icaltime_is_utc(start) ? nullptr : start.zone;
  if (fields.start) {
    if (!ParseTime(*fields.start, &start)) {
      *error = "--start \"" + *fields.start + "\" is not a date (YYYYMMDD) or date-time (YYYYMMDDTHHMMSS[Z])";
      return false;
    }
    if (!start.is_date && !icaltime_is_utc(start) && zone) start = icaltime_set_timezone(&start, zone);
    icalcomponent_set_dtstart(event, start);
  }
  if (fields.end) {
    if (!ParseTime(*fields.end, &end)) {
      *error = "--end \"" + *fields.end + "\" is not a date (YYYYMMDD) or date-time (YYYYMMDDTHHMMSS[Z])";
      return false;
    }
    if (!end.is_date && !icaltime_is_utc(end) && zone) end = icaltime_set_timezone(&end, zone);
  }
  if (!icaltime_is_null_time(end)) {
    if (end.is_date != start.is_date || icaltime_compare(end, start) < 0) {
      *error = "the end must be of the start's kind (date or date-time) and not before it";
      return false;
    }
    icalcomponent_set_dtend(event, end);
  }
  if (fields.summary) icalcomponent_set_summary(event, fields.summary->c_str());
  if (fields.location) icalcomponent_set_location(event, fields.location->c_str());
  return true;
}

// ---- mail ----

void InitGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

GMimeMessage* ParseMessage(const std::string& text) {
  InitGMime();
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(text.data(), text.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
  g_object_unref(parser);
  g_object_unref(stream);
  return message;
}

std::string MessageText(GMimeMessage* message) {
  char* text = g_mime_object_to_string(GMIME_OBJECT(message), nullptr);
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

void SetAddresses(GMimeMessage* message, GMimeAddressType type, const std::string& text) {
  InternetAddressList* list = g_mime_message_get_addresses(message, type);
  internet_address_list_clear(list);
  if (InternetAddressList* parsed = internet_address_list_parse(nullptr, text.c_str())) {
    internet_address_list_append(list, parsed);
    g_object_unref(parsed);
  }
}

bool NewMessage(const ItemFields& fields, std::string* text, std::string* error) {
  InitGMime();
  GMimeMessage* message = g_mime_message_new(TRUE);
  SetAddresses(message, GMIME_ADDRESS_TYPE_FROM, fields.from.value_or("Someone <someone@example.org>"));
  SetAddresses(message, GMIME_ADDRESS_TYPE_TO, fields.to.value_or("PC user <user@localhost>"));
  g_mime_message_set_subject(message, fields.subject.value_or("(no subject)").c_str(), "utf-8");
  GDateTime* now = g_date_time_new_now_utc();
  g_mime_message_set_date(message, now);
  g_date_time_unref(now);
  char* id = g_mime_utils_generate_message_id("zelsync.local");
  g_mime_message_set_message_id(message, id);
  g_free(id);
  GMimeTextPart* body = g_mime_text_part_new_with_subtype("plain");
  g_mime_text_part_set_text(body, fields.text.value_or("").c_str());
  GMimeObject* top = GMIME_OBJECT(body);
  bool ok = true;
  if (!fields.attachments.empty()) {
    GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
    g_mime_multipart_add(mixed, top);
    g_object_unref(body);
    top = GMIME_OBJECT(mixed);
    for (const std::string& path : fields.attachments) {
      std::string content;
      if (!ReadWholeFile(path, &content)) {
        *error = path + ": cannot read the attachment";
        ok = false;
        break;
      }
      GMimePart* part = g_mime_part_new_with_type("application", "octet-stream");
      g_mime_part_set_filename(part, BaseName(path).c_str());
      GMimeStream* stream = g_mime_stream_mem_new_with_buffer(content.data(), content.size());
      GMimeDataWrapper* wrapper = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
      g_mime_part_set_content(part, wrapper);
      g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
      g_mime_multipart_add(mixed, GMIME_OBJECT(part));
      g_object_unref(wrapper);
      g_object_unref(stream);
      g_object_unref(part);
    }
  }
  g_mime_message_set_mime_part(message, top);
  g_object_unref(top);
  if (ok) *text = MessageText(message);
  g_object_unref(message);
  return ok;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

}  // namespace

bool IsItemTime(const std::string& text) {
  icaltimetype ignored;
  return ParseTime(text, &ignored);
}

bool NewItemText(FolderKind folder, const ItemFields& fields, const std::string& uid, std::string* text,
                 std::string* error) {
  switch (folder) {
    case FolderKind::kContacts: {
      VCard card;
      card.version = "3.0";
      ItemFields named = fields;
      if (!named.name) named.name = "Unnamed";
      ApplyContactFields(named, &card);
      *text = VCardForStore(card, uid);
      return true;
    }
    case FolderKind::kCalendar: {
      if (!fields.start) {
        *error = "a new event needs --start (YYYYMMDD or YYYYMMDDTHHMMSS[Z])";
        return false;
      }
      IcalPtr calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
      icalcomponent* event = icalcomponent_new(ICAL_VEVENT_COMPONENT);
      icalcomponent_add_component(calendar.get(), event);
      icalcomponent_set_uid(event, uid.c_str());
      ItemFields titled = fields;
      if (!titled.summary) titled.summary = "Untitled";
      if (!ApplyEventFields(titled, event, error)) return false;
      IcalPtr stored = StoredCalendar(calendar.get(), uid);
      if (!stored) return false;
      *text = ICalendarText(stored.get());
      return true;
    }
    case FolderKind::kNotes:
      *text = fields.text.value_or("");
      return true;
    case FolderKind::kInbox:
    case FolderKind::kDrafts:
      return NewMessage(fields, text, error);
  }
  return false;
}

bool EditedItemText(FolderKind folder, const std::string& current, const ItemFields& fields,
                    const std::string& uid, std::string* text, std::string* error) {
  switch (folder) {
    case FolderKind::kContacts: {
      VCard card;
      if (!NormalisedCard(current, uid, &card)) {
        *error = "the item is not a vCard";
        return false;
      }
      ApplyContactFields(fields, &card);
      *text = VCardForStore(card, uid);
      return true;
    }
    case FolderKind::kCalendar: {
      IcalPtr calendar = ParseCalendarText(current);
      icalcomponent* event = MainEvent(calendar.get());
      if (!event) {
        *error = "the item is not an iCalendar event";
        return false;
      }
      if (!ApplyEventFields(fields, event, error)) return false;
      *text = ICalendarText(calendar.get());
      return true;
    }
    case FolderKind::kNotes:
      *text = fields.text.value_or(current);
      return true;
    case FolderKind::kInbox:
    case FolderKind::kDrafts: {
      GMimeMessage* message = ParseMessage(current);
      if (!message) {
        *error = "the item is not a mail message";
        return false;
      }
      if (fields.subject) g_mime_message_set_subject(message, fields.subject->c_str(), "utf-8");
      *text = MessageText(message);
      g_object_unref(message);
      return true;
    }
  }
  return false;
}

bool ImportedItemText(FolderKind folder, const std::string& given, const std::string& uid, std::string* text,
                      std::string* error) {
  switch (folder) {
    case FolderKind::kContacts: {
      VCard card;
      if (!ParseVCard(given, &card)) break;
      *text = VCardForStore(card, uid);
      return true;
    }
    case FolderKind::kCalendar: {
      IcalPtr calendar = LooksLikeCalendar(given) ? ParseCalendarText(given) : nullptr;
      IcalPtr stored = calendar ? StoredCalendar(calendar.get(), uid) : nullptr;
      if (!stored) break;
      *text = ICalendarText(stored.get());
      return true;
    }
    case FolderKind::kNotes:
      *text = given;
      return true;
    case FolderKind::kInbox:
    case FolderKind::kDrafts: {
      GMimeMessage* message = ParseMessage(given);
      if (!message) break;
      g_object_unref(message);
      *text = given;
      return true;
    }
  }
  *error = "the file is not of the folder's kind";
  return false;
}

std::string ItemSummary(FolderKind folder, const std::string& text) {
  switch (folder) {
    case FolderKind::kContacts: {
      VCard card;
      return ParseVCard(text, &card) ? VCardFullName(card).value_or("") : std::string();
    }
    case FolderKind::kCalendar: {
      IcalPtr calendar = ParseCalendarText(text);
      icalcomponent* event = MainEvent(calendar.get());
      if (!event) return std::string();
      const char* summary = icalcomponent_get_summary(event);
      std::string out = summary ? ToValidUtf8(summary) : "";
      icaltimetype start = icalcomponent_get_dtstart(event);
      if (!icaltime_is_null_time(start)) out += std::string("  (") + icaltime_as_ical_string(start) + ")";
      return out;
    }
    case FolderKind::kNotes:
      return ToValidUtf8(FirstLine(text));
    case FolderKind::kInbox:
    case FolderKind::kDrafts: {
      GMimeMessage* message = ParseMessage(text);
      if (!message) return std::string();
      const char* subject = g_mime_message_get_subject(message);
      InternetAddressList* from = g_mime_message_get_from(message);
      char* sender = from ? internet_address_list_to_string(from, nullptr, FALSE) : nullptr;
      std::string out = ToValidUtf8(subject ? subject : "") + "  (from " + ToValidUtf8(sender ? sender : "") + ")";
      g_free(sender);
      g_object_unref(message);
      return out;
    }
  }
  return std::string();
}

}  // namespace local
}  // namespace zelsync
