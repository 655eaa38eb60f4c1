// Calendar files of the local store through libical: iCalendar 2.0 read
// and written by libical, vCalendar 1.0 read by libical's vCalendar
// converter, and vCalendar 1.0 written for phones where it can carry the
// event faithfully.
#ifndef ZELSYNC_LOCAL_CALENDAR_TEXT_H
#define ZELSYNC_LOCAL_CALENDAR_TEXT_H

#include <libical/ical.h>

#include <memory>
#include <string>

namespace zelsync {
namespace local {

struct IcalDeleter {
  void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using IcalPtr = std::unique_ptr<icalcomponent, IcalDeleter>;

// True when the text holds a vCalendar or iCalendar object (BEGIN:VCALENDAR
// or a bare BEGIN:VEVENT) as its first object.
bool LooksLikeCalendar(const std::string& text);

// Reads an iCalendar 2.0 or vCalendar 1.0 text into a VCALENDAR component
// in iCalendar terms; null when it cannot be read.
IcalPtr ParseCalendarText(const std::string& text);

// The first VEVENT of the calendar (the event's master), or null.
icalcomponent* MainEvent(icalcomponent* calendar);

// The calendar as the store keeps it: one VCALENDAR with the event of
// `source` (its master and the instances that share its UID) and the time
// zones it uses; UID := `uid` and DTSTAMP := now when missing. Null when
// `source` holds no event, or events that do not share the master's UID.
IcalPtr StoredCalendar(icalcomponent* source, const std::string& uid);

// Makes the event an all-day event (start and end become dates), or makes
// an all-day event a timed one from midnight to midnight.
void SetAllDay(icalcomponent* event, bool all_day);

// iCalendar text of the calendar.
std::string ICalendarText(icalcomponent* calendar);

// vCalendar 1.0 text of the calendar's event; false when vCalendar 1.0
// cannot carry it faithfully (recurrence it cannot express, local times of
// a recurring event, attendees, several instances, unknown properties...).
bool VCalendarText(icalcomponent* calendar, std::string* text);

}  // namespace local
}  // namespace zelsync

#endif  // ZELSYNC_LOCAL_CALENDAR_TEXT_H
