// Calendar entries: one iCalendar file (one VCALENDAR holding one VEVENT
// and its instances) per entry of the calendar vdir.
#include <cctype>

#include "local/calendar_text.h"
#include "local/stored_item.h"
#include "local/versit.h"

namespace zelsync {
namespace local {
namespace {

class LocalAppointment : public outlook::Item,
                         public outlook::AppointmentItem,
                         public std::enable_shared_from_this<LocalAppointment> {
 public:
  LocalAppointment(std::shared_ptr<Store> store, const ItemFile& file) : file_(std::move(store), file) {}
  // A new entry opened from a received file.
  LocalAppointment(std::shared_ptr<Store> store, IcalPtr calendar)
      : file_(std::move(store), FolderKind::kCalendar), calendar_(std::move(calendar)) {
    loaded_ = true;
    dirty_ = true;
  }

  std::shared_ptr<outlook::MailItem> QueryMail() override { return nullptr; }
  std::shared_ptr<outlook::NoteItem> QueryNote() override { return nullptr; }
  std::shared_ptr<outlook::ContactItem> QueryContact() override { return nullptr; }
  // A calendar file without an event (a task, a journal entry) is an item
  // of another class; a file that cannot be read is an entry whose reads
  // fail.
  std::shared_ptr<outlook::AppointmentItem> QueryAppointment() override {
    if (Load() && !MainEvent(calendar_.get())) return nullptr;
    return shared_from_this();
  }

  bool EntryID(outlook::OptString* entry_id) override { return file_.EntryId(entry_id); }
  bool ReserveEntryID(WString* entry_id) override { return file_.Reserve(NewItemStem(), entry_id); }

  bool Save() override {
    if (!Event()) return false;
    if (!file_.saved()) {
      std::string stem = file_.NewStem(NewItemStem());
      IcalPtr stored = StoredCalendar(calendar_.get(), stem);
      if (!stored) return false;
      std::string content = ICalendarText(stored.get());
      if (!file_.Write(".ics", content, stem)) return false;
      calendar_ = std::move(stored);
      text_ = std::move(content);
      dirty_ = false;
      return true;
    }
    // An entry read from the folder and left unchanged is written back byte
    // for byte.
    std::string content = dirty_ ? ICalendarText(calendar_.get()) : text_;
    if (!file_.Write(".ics", content)) return false;
    text_ = std::move(content);
    dirty_ = false;
    return true;
  }

  bool Delete() override { return file_.Remove(); }

  bool Subject(outlook::OptString* value) override {
    icalcomponent* event = Event();
    if (!event) return false;
    icalproperty* summary = icalcomponent_get_first_property(event, ICAL_SUMMARY_PROPERTY);
    const char* text = summary ? icalproperty_get_summary(summary) : nullptr;
    *value = text ? outlook::OptString(Utf8ToUtf16(ToValidUtf8(text))) : std::nullopt;
    return true;
  }

  bool PutAllDayEvent(bool value) override {
    icalcomponent* event = Event();
    if (!event) return false;
    SetAllDay(event, value);
    dirty_ = true;
    return true;
  }

  bool SaveAs(const WString& path, int32_t type) override {
    if (!Event()) return false;
    std::string content;
    if (type == outlook::kSaveAsICalendar) {
      content = ICalendarText(calendar_.get());
    } else if (type != outlook::kSaveAsVCalendar || !VCalendarText(calendar_.get(), &content)) {
      return false;
    }
    return WriteHandedFile(NativePath(path), content);
  }

 private:
  bool Load() {
    if (!loaded_) {
      loaded_ = true;
      if (ReadWholeFile(file_.path(), &text_)) calendar_ = ParseCalendarText(text_);
    }
    return calendar_ != nullptr;
  }

  icalcomponent* Event() { return Load() ? MainEvent(calendar_.get()) : nullptr; }

  StoredFile file_;
  bool loaded_ = false;
  bool dirty_ = false;
  std::string text_;
  IcalPtr calendar_;
};

}  // namespace

std::shared_ptr<outlook::Item> MakeAppointmentItem(const std::shared_ptr<Store>& store, const ItemFile& file) {
  return std::make_shared<LocalAppointment>(store, file);
}

namespace {
// How many calendar objects the text holds one after the other.
int CalendarObjects(const std::string& text) {
  int count = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(start, end - start));
    for (char& c : line) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (line == "BEGIN:VCALENDAR") ++count;
    start = end + 1;
  }
  return count;
}
}  // namespace

std::shared_ptr<outlook::Item> CalendarFromText(const std::shared_ptr<Store>& store, const std::string& text) {
  if (!LooksLikeCalendar(text)) return nullptr;
  // A file of several calendar objects (a phone's export of its calendar)
  // would be stored as its first: it is refused whole instead, as a file of
  // separate events is.
  if (CalendarObjects(text) > 1) return nullptr;
  IcalPtr calendar = ParseCalendarText(text);
  if (!calendar) return nullptr;
  if (!MainEvent(calendar.get())) return OtherClassItem();
  return std::make_shared<LocalAppointment>(store, std::move(calendar));
}

}  // namespace local
}  // namespace zelsync
