#include "local/calendar_text.h"

extern "C" {
#include <libical/icalvcal.h>
}
#include <libical/vcc.h>
#include <libical/vobject.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "local/versit.h"

namespace zelsync {
namespace local {
namespace {

void QuietLibical() {
  static std::once_flag once;
  std::call_once(once, [] { icalerror_set_errors_are_fatal(0); });
}

// A vCalendar 1.0 alarm of an event: AALARM, DALARM, MALARM or PALARM and
// its parts "run time;snooze time;repeat count;..."; after the count come
// the display string, the audio content, the procedure name, or the address
// and note of a mail alarm.
struct VCalAlarm {
  std::string kind;
  std::vector<std::string> parts;
};

bool IsVCalAlarm(const std::string& name) {
  return name == "AALARM" || name == "DALARM" || name == "MALARM" || name == "PALARM";
}

// The alarm as a VALARM of `event`; an alarm without a readable run time is
// left out.
void AddVAlarm(icalcomponent* event, const VCalAlarm& alarm) {
  std::vector<std::string> parts = alarm.parts;
  parts.resize(5);
  icaltimetype at = icaltime_from_string(parts[0].c_str());
  if (icaltime_is_null_time(at) || !icaltime_is_valid_time(at)) return;
  icalcomponent* valarm = icalcomponent_new(ICAL_VALARM_COMPONENT);
  struct icaltriggertype trigger;
  trigger.time = at;
  trigger.duration = icaldurationtype_null_duration();
  icalcomponent_add_property(valarm, icalproperty_new_trigger(trigger));
  const int repeat = atoi(parts[2].c_str());
  struct icaldurationtype snooze = icaldurationtype_from_string(parts[1].c_str());
  if (repeat > 0 && !icaldurationtype_is_bad_duration(snooze) && !icaldurationtype_is_null_duration(snooze)) {
    icalcomponent_add_property(valarm, icalproperty_new_duration(snooze));
    icalcomponent_add_property(valarm, icalproperty_new_repeat(repeat));
  }
  const char* summary = icalcomponent_get_summary(event);
  const std::string text = !parts[3].empty() ? parts[3] : summary ? summary : "";
  if (alarm.kind == "DALARM") {
    icalcomponent_add_property(valarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
    icalcomponent_add_property(valarm, icalproperty_new_description(text.c_str()));
  } else if (alarm.kind == "MALARM") {
    const std::string note = !parts[4].empty() ? parts[4] : summary ? summary : "";
    icalcomponent_add_property(valarm, icalproperty_new_action(ICAL_ACTION_EMAIL));
    if (!parts[3].empty()) icalcomponent_add_property(valarm, icalproperty_new_attendee(("mailto:" + parts[3]).c_str()));
    icalcomponent_add_property(valarm, icalproperty_new_summary(note.c_str()));
    icalcomponent_add_property(valarm, icalproperty_new_description(note.c_str()));
  } else {
    const bool audio = alarm.kind == "AALARM";
    icalcomponent_add_property(valarm, icalproperty_new_action(audio ? ICAL_ACTION_AUDIO : ICAL_ACTION_PROCEDURE));
    if (!parts[3].empty()) {
      icalattach* attach = icalattach_new_from_url(parts[3].c_str());
      icalcomponent_add_property(valarm, icalproperty_new_attach(attach));
      icalattach_unref(attach);
    }
  }
  icalcomponent_add_component(event, valarm);
}

// vCalendar 1.0 goes to libical's converter as an object tree built from
// the lines this store reads itself: the values arrive decoded, so the
// converter never meets quoted-printable or folding, which its own lexer
// handles badly.
//
// Every BEGIN takes a place on the stack, so that each END closes its own
// object. An object without a name, everything inside it, and any object
// after the first one closed stand as null: their lines are skipped and no
// tree node is made for them (one made outside the tree would never be
// freed).
IcalPtr ParseVCalendar(const std::vector<VersitProperty>& properties) {
  VObject* root = nullptr;
  std::vector<VObject*> stack;
  // The alarms of each VEVENT, in order: the converter drops most of them,
  // so they are made VALARMs here.
  std::vector<std::vector<VCalAlarm>> alarms;
  bool in_event = false;  // inside a VEVENT of the calendar
  for (const VersitProperty& p : properties) {
    if (p.name == "BEGIN") {
      std::string name = Upper(Trim(p.value));
      VObject* object = nullptr;
      if (!name.empty() && stack.empty() && !root) {
        object = root = newVObject(name.c_str());
      } else if (!name.empty() && !stack.empty() && stack.back()) {
        object = addProp(stack.back(), name.c_str());
      }
      // Alarms are kept per VEVENT of the calendar, in the converter's order.
      if (stack.size() == 1) {
        in_event = object && name == "VEVENT";
        if (in_event) alarms.emplace_back();
      }
      stack.push_back(object);
      continue;
    }
    if (p.name == "END") {
      if (!stack.empty()) stack.pop_back();
      continue;
    }
    if (stack.empty() || !stack.back()) continue;
    if (IsVCalAlarm(p.name)) {
      if (stack.size() == 2 && in_event) {
        VCalAlarm alarm{p.name, {}};
        for (const std::string& part : SplitStructured(DecodedText(p))) alarm.parts.push_back(Trim(UnescapeText(part)));
        alarms.back().push_back(std::move(alarm));
      }
      continue;
    }
    std::string value = UnescapeText(DecodedText(p));
    if (Trim(value).empty()) continue;  // an empty value carries nothing
    // The converter reads text values in iCalendar's escaping.
    if (p.name == "SUMMARY" || p.name == "DESCRIPTION" || p.name == "LOCATION" || p.name == "COMMENT" ||
        p.name.compare(0, 2, "X-") == 0) {
      value = EscapeText(value);
    }
    VObject* property = addProp(stack.back(), p.name.c_str());
    setVObjectUStringZValue_(property, fakeUnicode(value.c_str(), nullptr));
    for (const VersitParam& param : p.params) {
      if (param.name == "ENCODING" || param.name == "CHARSET") continue;
      if (param.name == "TYPE") {
        addProp(property, Upper(param.value).c_str());
      } else {
        setVObjectStringZValue(addProp(property, param.name.c_str()), param.value.c_str());
      }
    }
  }
  if (!root) return nullptr;
  IcalPtr converted(icalvcal_convert(root));
  cleanVObject(root);
  size_t index = 0;
  for (icalcomponent* event = converted ? icalcomponent_get_first_component(converted.get(), ICAL_VEVENT_COMPONENT)
                                        : nullptr;
       event && index < alarms.size();
       event = icalcomponent_get_next_component(converted.get(), ICAL_VEVENT_COMPONENT), ++index) {
    for (const VCalAlarm& alarm : alarms[index]) AddVAlarm(event, alarm);
  }
  return converted;
}

void RemoveAll(icalcomponent* component, icalproperty_kind kind) {
  while (icalproperty* property = icalcomponent_get_first_property(component, kind)) {
    icalcomponent_remove_property(component, property);
    icalproperty_free(property);
  }
}

icaltimetype DateOf(icaltimetype t) {
  icaltimetype d = icaltime_null_date();
  d.year = t.year;
  d.month = t.month;
  d.day = t.day;
  return d;
}

}  // namespace

bool LooksLikeCalendar(const std::string& text) {
  std::string version;
  std::vector<VersitProperty> properties = ReadVersitObject(text, &version);
  if (properties.empty() || properties.front().name != "BEGIN") return false;
  std::string kind = Upper(Trim(properties.front().value));
  return kind == "VCALENDAR" || kind == "VEVENT";
}

IcalPtr ParseCalendarText(const std::string& text) {
  QuietLibical();
  std::string version;
  std::vector<VersitProperty> properties = ReadVersitObject(text, &version);
  if (properties.empty() || properties.front().name != "BEGIN") return nullptr;
  if (Trim(version) == "1.0") return ParseVCalendar(properties);
  IcalPtr parsed(icalparser_parse_string(text.c_str()));
  if (!parsed) return nullptr;
  icalcomponent_kind kind = icalcomponent_isa(parsed.get());
  if (kind == ICAL_VCALENDAR_COMPONENT) return parsed;
  if (kind == ICAL_VEVENT_COMPONENT) {
    IcalPtr calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    icalcomponent_add_component(calendar.get(), parsed.release());
    return calendar;
  }
  if (kind == ICAL_XROOT_COMPONENT) {
    icalcomponent* first = icalcomponent_get_first_component(parsed.get(), ICAL_VCALENDAR_COMPONENT);
    if (!first) return nullptr;
    return IcalPtr(icalcomponent_new_clone(first));
  }
  return nullptr;
}

std::vector<icalcomponent*> Children(icalcomponent* parent, icalcomponent_kind kind) {
  std::vector<icalcomponent*> children;
  if (!parent) return children;
  for (icalcomponent* child = icalcomponent_get_first_component(parent, kind); child;
       child = icalcomponent_get_next_component(parent, kind)) {
    children.push_back(child);
  }
  return children;
}

icalcomponent* MainEvent(icalcomponent* calendar) {
  std::vector<icalcomponent*> events = Children(calendar, ICAL_VEVENT_COMPONENT);
  for (icalcomponent* event : events) {
    if (!icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY)) return event;
  }
  return events.empty() ? nullptr : events.front();
}

IcalPtr StoredCalendar(icalcomponent* source, const std::string& uid) {
  icalcomponent* master = MainEvent(source);
  if (!master) return nullptr;
  IcalPtr calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
  icalcomponent_add_property(calendar.get(), icalproperty_new_prodid("-//zelsync//local store//EN"));
  icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
  for (icalcomponent* zone : Children(source, ICAL_VTIMEZONE_COMPONENT)) {
    icalcomponent_add_component(calendar.get(), icalcomponent_new_clone(zone));
  }
  const char* master_uid = icalcomponent_get_uid(master);
  std::string event_uid = master_uid && *master_uid ? master_uid : uid;
  // The master and the edited occurrences that share its UID, in their
  // order. An item holds one event: a file with events of their own beside
  // it is refused whole rather than stored with all but one dropped.
  const std::vector<icalcomponent*> events = Children(source, ICAL_VEVENT_COMPONENT);
  for (icalcomponent* event : events) {
    const char* this_uid = icalcomponent_get_uid(event);
    if (event != master && !(master_uid && *master_uid && this_uid && std::string(master_uid) == this_uid)) {
      return nullptr;
    }
  }
  for (icalcomponent* event : events) {
    icalcomponent* copy = icalcomponent_new_clone(event);
    if (!icalcomponent_get_first_property(copy, ICAL_UID_PROPERTY)) {
      icalcomponent_add_property(copy, icalproperty_new_uid(event_uid.c_str()));
    }
    if (!icalcomponent_get_first_property(copy, ICAL_DTSTAMP_PROPERTY)) {
      icalcomponent_add_property(
          copy, icalproperty_new_dtstamp(icaltime_current_time_with_zone(icaltimezone_get_utc_timezone())));
    }
    icalcomponent_add_component(calendar.get(), copy);
  }
  return calendar;
}

void SetAllDay(icalcomponent* event, bool all_day) {
  icaltimetype start = icalcomponent_get_dtstart(event);
  if (icaltime_is_null_time(start) || start.is_date == (all_day ? 1 : 0)) return;
  icaltimetype end = icalcomponent_get_dtend(event);
  icaltimetype new_start, new_end;
  if (all_day) {
    new_start = DateOf(start);
    if (icaltime_is_null_time(end) || icaltime_compare(end, start) <= 0) {
      new_end = new_start;
      icaltime_adjust(&new_end, 1, 0, 0, 0);
    } else {
      // The end is exclusive: an end after midnight covers its whole day.
      icaltimetype end_in_start_zone = end;
      if (start.zone && end.zone && start.zone != end.zone) {
        end_in_start_zone = icaltime_convert_to_zone(end, const_cast<icaltimezone*>(start.zone));
      }
      new_end = DateOf(end_in_start_zone);
      if (end_in_start_zone.hour || end_in_start_zone.minute || end_in_start_zone.second) {
        icaltime_adjust(&new_end, 1, 0, 0, 0);
      }
      if (icaltime_compare_date_only(new_end, new_start) <= 0) {
        new_end = new_start;
        icaltime_adjust(&new_end, 1, 0, 0, 0);
      }
    }
  } else {
    new_start = icaltime_null_time();
    new_start.year = start.year, new_start.month = start.month, new_start.day = start.day;
    new_end = new_start;
    if (icaltime_is_null_time(end)) {
      icaltime_adjust(&new_end, 1, 0, 0, 0);
    } else {
      new_end.year = end.year, new_end.month = end.month, new_end.day = end.day;
    }
  }
  RemoveAll(event, ICAL_DTSTART_PROPERTY);
  RemoveAll(event, ICAL_DTEND_PROPERTY);
  RemoveAll(event, ICAL_DURATION_PROPERTY);
  icalcomponent_add_property(event, icalproperty_new_dtstart(new_start));
  icalcomponent_add_property(event, icalproperty_new_dtend(new_end));
}

std::string ICalendarText(icalcomponent* calendar) {
  char* text = icalcomponent_as_ical_string_r(calendar);
  std::string out = text ? text : "";
  icalmemory_free_buffer(text);
  return out;
}

namespace {

// A time as vCalendar 1.0 writes it: UTC with "Z", floating without, a date
// as its midnight. A time in a named zone is turned into UTC when
// `zone_allowed`; otherwise (or when the zone is unknown) it cannot be
// carried.
bool VCalTime(icalproperty* property, icaltimetype t, bool zone_allowed, std::string* out) {
  char buffer[32];
  if (t.is_date) {
    snprintf(buffer, sizeof buffer, "%04d%02d%02dT000000", t.year, t.month, t.day);
    *out = buffer;
    return true;
  }
  bool has_tzid = property && icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
  bool utc = icaltime_is_utc(t);
  if (!utc && (t.zone || has_tzid)) {
    if (!zone_allowed || !t.zone) return false;
    t = icaltime_convert_to_zone(t, icaltimezone_get_utc_timezone());
    utc = true;
  }
  snprintf(buffer, sizeof buffer, "%04d%02d%02dT%02d%02d%02d%s", t.year, t.month, t.day, t.hour, t.minute,
           t.second, utc ? "Z" : "");
  *out = buffer;
  return true;
}

const char* const kWeekdays[] = {"", "SU", "MO", "TU", "WE", "TH", "FR", "SA"};

size_t Count(const short* values, size_t max) {
  size_t n = 0;
  while (n < max && values[n] != ICAL_RECURRENCE_ARRAY_MAX) ++n;
  return n;
}

// The recurrence rule in vCalendar 1.0 syntax, when it has one.
bool VCalRule(const icalrecurrencetype& r, icaltimetype start, icalproperty* start_property, bool zoned,
              std::string* out) {
  if (Count(r.by_second, ICAL_BY_SECOND_SIZE) || Count(r.by_minute, ICAL_BY_MINUTE_SIZE) ||
      Count(r.by_hour, ICAL_BY_HOUR_SIZE) || Count(r.by_week_no, ICAL_BY_WEEKNO_SIZE) ||
      Count(r.by_set_pos, ICAL_BY_SETPOS_SIZE)) {
    return false;
  }
  size_t days = Count(r.by_day, ICAL_BY_DAY_SIZE);
  size_t month_days = Count(r.by_month_day, ICAL_BY_MONTHDAY_SIZE);
  size_t months = Count(r.by_month, ICAL_BY_MONTH_SIZE);
  size_t year_days = Count(r.by_year_day, ICAL_BY_YEARDAY_SIZE);
  int interval = r.interval > 0 ? r.interval : 1;
  std::string rule;
  char number[32];
  switch (r.freq) {
    case ICAL_DAILY_RECURRENCE:
      if (days || month_days || months || year_days) return false;
      rule = "D" + std::to_string(interval);
      break;
    case ICAL_WEEKLY_RECURRENCE:
      if (month_days || months || year_days) return false;
      rule = "W" + std::to_string(interval);
      for (size_t i = 0; i < days; ++i) {
        if (icalrecurrencetype_day_position(r.by_day[i]) != 0) return false;
        rule += std::string(" ") + kWeekdays[icalrecurrencetype_day_day_of_week(r.by_day[i])];
      }
      break;
    case ICAL_MONTHLY_RECURRENCE:
      if (months || year_days || (days && month_days)) return false;
      if (days) {
        rule = "MP" + std::to_string(interval);
        for (size_t i = 0; i < days; ++i) {
          int position = icalrecurrencetype_day_position(r.by_day[i]);
          if (position == 0) return false;
          snprintf(number, sizeof number, " %d%c %s", position < 0 ? -position : position,
                   position < 0 ? '-' : '+', kWeekdays[icalrecurrencetype_day_day_of_week(r.by_day[i])]);
          rule += number;
        }
      } else {
        rule = "MD" + std::to_string(interval);
        if (!month_days) rule += " " + std::to_string(start.day);
        for (size_t i = 0; i < month_days; ++i) {
          int day = r.by_month_day[i];
          rule += " " + (day < 0 ? std::to_string(-day) + "-" : std::to_string(day));
        }
      }
      break;
    case ICAL_YEARLY_RECURRENCE:
      if (days || month_days || (months && year_days)) return false;
      if (year_days) {
        rule = "YD" + std::to_string(interval);
        for (size_t i = 0; i < year_days; ++i) {
          if (r.by_year_day[i] < 0) return false;
          rule += " " + std::to_string(r.by_year_day[i]);
        }
      } else {
        rule = "YM" + std::to_string(interval);
        if (!months) rule += " " + std::to_string(start.month);
        for (size_t i = 0; i < months; ++i) rule += " " + std::to_string(r.by_month[i]);
      }
      break;
    default:
      return false;
  }
  if (r.count > 0) {
    rule += " #" + std::to_string(r.count);
  } else if (!icaltime_is_null_time(r.until)) {
    std::string until;
    if (!VCalTime(start_property, r.until, !zoned, &until)) return false;
    rule += " " + until;
  } else {
    rule += " #0";
  }
  *out = rule;
  return true;
}

// The property's value as plain text (text values unescaped).
std::string Text(icalproperty* property) {
  icalvalue* value = icalproperty_get_value(property);
  if (!value) return std::string();
  icalvalue_kind kind = icalvalue_isa(value);
  const char* text = nullptr;
  if (kind == ICAL_TEXT_VALUE) text = icalvalue_get_text(value);
  else if (kind == ICAL_X_VALUE) text = icalvalue_get_x(value);
  else text = icalvalue_as_ical_string(value);
  return text ? text : "";
}

// A VALARM as a vCalendar 1.0 alarm line: display DALARM, audio AALARM,
// procedure PALARM, mail MALARM, each "run time;snooze;repeat;..." (just
// the run time when there is nothing more). False when the run time cannot
// be given (relative to a date, or a local time of a recurring event).
bool VCalAlarmLine(icalcomponent* alarm, icaltimetype start, icaltimetype end, icalproperty* start_property,
                   bool recurring, std::string* line) {
  icalproperty* action = icalcomponent_get_first_property(alarm, ICAL_ACTION_PROPERTY);
  icalproperty* trigger = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
  if (!action || !trigger) return false;
  const char* kind = nullptr;
  std::vector<std::string> extra;
  const auto text_of = [&](icalproperty_kind wanted) {
    icalproperty* p = icalcomponent_get_first_property(alarm, wanted);
    return p ? EscapeText21(Text(p)) : std::string();
  };
  switch (icalproperty_get_action(action)) {
    case ICAL_ACTION_DISPLAY:
      kind = "DALARM";
      extra.push_back(text_of(ICAL_DESCRIPTION_PROPERTY));
      break;
    case ICAL_ACTION_AUDIO:
    case ICAL_ACTION_PROCEDURE: {
      kind = icalproperty_get_action(action) == ICAL_ACTION_AUDIO ? "AALARM" : "PALARM";
      icalproperty* attach = icalcomponent_get_first_property(alarm, ICAL_ATTACH_PROPERTY);
      icalattach* value = attach ? icalproperty_get_attach(attach) : nullptr;
      const char* url = value && icalattach_get_is_url(value) ? icalattach_get_url(value) : nullptr;
      extra.push_back(url ? EscapeText21(url) : std::string());
      break;
    }
    case ICAL_ACTION_EMAIL: {
      kind = "MALARM";
      icalproperty* attendee = icalcomponent_get_first_property(alarm, ICAL_ATTENDEE_PROPERTY);
      std::string address = attendee && icalproperty_get_attendee(attendee) ? icalproperty_get_attendee(attendee) : "";
      if (Upper(address.substr(0, 7)) == "MAILTO:") address = address.substr(7);
      extra.push_back(EscapeText21(address));
      extra.push_back(text_of(ICAL_DESCRIPTION_PROPERTY));
      break;
    }
    default:
      return false;
  }
  struct icaltriggertype when = icalproperty_get_trigger(trigger);
  icaltimetype at = when.time;
  if (icaltime_is_null_time(at)) {
    icalparameter* related = icalproperty_get_first_parameter(trigger, ICAL_RELATED_PARAMETER);
    bool from_end = related && icalparameter_get_related(related) == ICAL_RELATED_END;
    icaltimetype base = from_end ? end : start;
    if (icaltime_is_null_time(base) || base.is_date) return false;
    at = icaltime_add(base, when.duration);
  }
  std::string value;
  if (!VCalTime(start_property, at, !recurring, &value)) return false;
  icalproperty* repeat = icalcomponent_get_first_property(alarm, ICAL_REPEAT_PROPERTY);
  icalproperty* snooze = icalcomponent_get_first_property(alarm, ICAL_DURATION_PROPERTY);
  const int count = repeat ? icalproperty_get_repeat(repeat) : 0;
  std::string rest = ";" + (count > 0 && snooze ? std::string(icaldurationtype_as_ical_string(icalproperty_get_duration(snooze))) : "") +
                     ";" + std::to_string(count);
  bool any = count > 0;
  for (const std::string& part : extra) {
    rest += ";" + part;
    any = any || !part.empty();
  }
  *line = VersitLine21(kind, any ? value + rest : value);
  return true;
}

}  // namespace

bool VCalendarText(icalcomponent* calendar, std::string* text) {
  icalcomponent* event = MainEvent(calendar);
  if (!event) return false;
  if (Children(calendar, ICAL_VEVENT_COMPONENT).size() > 1) return false;  // edited occurrences
  icalproperty* start_property = icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY);
  icaltimetype start = icalcomponent_get_dtstart(event);
  if (!start_property || icaltime_is_null_time(start)) return false;
  const bool recurring = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY) != nullptr ||
                         icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY) != nullptr;
  const bool zoned = !start.is_date && !icaltime_is_utc(start) &&
                     (start.zone || icalproperty_get_first_parameter(start_property, ICAL_TZID_PARAMETER));
  // A recurring event in a local time zone keeps its local time across
  // daylight-saving changes, which vCalendar 1.0 cannot say.
  if (recurring && zoned) return false;

  std::string out = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n";
  std::string value;
  if (!VCalTime(start_property, start, true, &value)) return false;
  out += "DTSTART:" + value + "\r\n";
  icaltimetype end = icalcomponent_get_dtend(event);
  if (!icaltime_is_null_time(end)) {
    icalproperty* end_property = icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY);
    if (!VCalTime(end_property ? end_property : start_property, end, true, &value)) return false;
    out += "DTEND:" + value + "\r\n";
  }
  if (start.is_date) out += "X-BLUETOOTH-ALLDAYEVENT:TRUE\r\n";

  for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_ANY_PROPERTY); p;
       p = icalcomponent_get_next_property(event, ICAL_ANY_PROPERTY)) {
    icalproperty_kind kind = icalproperty_isa(p);
    switch (kind) {
      case ICAL_DTSTART_PROPERTY:
      case ICAL_DTEND_PROPERTY:
      case ICAL_DURATION_PROPERTY:
      case ICAL_DTSTAMP_PROPERTY:
      case ICAL_CREATED_PROPERTY:
      case ICAL_SEQUENCE_PROPERTY:
        break;  // written above, or bookkeeping of the iCalendar file
      case ICAL_SUMMARY_PROPERTY:
        out += VersitLine21("SUMMARY", EscapeText21(Text(p)));
        break;
      case ICAL_DESCRIPTION_PROPERTY:
        out += VersitLine21("DESCRIPTION", EscapeText21(Text(p)));
        break;
      case ICAL_LOCATION_PROPERTY:
        out += VersitLine21("LOCATION", EscapeText21(Text(p)));
        break;
      case ICAL_UID_PROPERTY:
        out += VersitLine21("UID", Text(p));
        break;
      case ICAL_CATEGORIES_PROPERTY: {
        std::string categories = Text(p);
        for (char& c : categories) {
          if (c == ',') c = ';';
        }
        out += VersitLine21("CATEGORIES", categories);
        break;
      }
      case ICAL_CLASS_PROPERTY:
        out += VersitLine21("CLASS", Text(p));  // an enumeration: its name
        break;
      case ICAL_PRIORITY_PROPERTY:
        out += "PRIORITY:" + std::to_string(icalproperty_get_priority(p)) + "\r\n";
        break;
      case ICAL_TRANSP_PROPERTY:
        out += icalproperty_get_transp(p) == ICAL_TRANSP_TRANSPARENT ? "TRANSP:1\r\n" : "TRANSP:0\r\n";
        break;
      case ICAL_STATUS_PROPERTY: {
        icalproperty_status status = icalproperty_get_status(p);
        if (status == ICAL_STATUS_CONFIRMED) out += "STATUS:CONFIRMED\r\n";
        else if (status == ICAL_STATUS_TENTATIVE) out += "STATUS:TENTATIVE\r\n";
        else return false;
        break;
      }
      case ICAL_LASTMODIFIED_PROPERTY:
        if (!VCalTime(p, icalproperty_get_lastmodified(p), true, &value)) return false;
        out += "LAST-MODIFIED:" + value + "\r\n";
        break;
      case ICAL_RRULE_PROPERTY: {
        std::string rule;
        if (!VCalRule(icalproperty_get_rrule(p), start, start_property, zoned, &rule)) return false;
        out += "RRULE:" + rule + "\r\n";
        break;
      }
      case ICAL_EXDATE_PROPERTY:
        if (!VCalTime(p, icalproperty_get_exdate(p), !zoned, &value)) return false;
        out += "EXDATE:" + value + "\r\n";
        break;
      case ICAL_X_PROPERTY: {
        const char* name = icalproperty_get_x_name(p);
        if (!name || std::string(name).compare(0, 6, "X-LIC-") == 0) break;
        if (std::string(name) == "X-BLUETOOTH-ALLDAYEVENT") break;
        out += VersitLine21(name, EscapeText21(Text(p)));
        break;
      }
      default:
        return false;  // attendees, attachments, recurrence dates...: not carried
    }
  }
  for (icalcomponent* alarm = icalcomponent_get_first_component(event, ICAL_VALARM_COMPONENT); alarm;
       alarm = icalcomponent_get_next_component(event, ICAL_VALARM_COMPONENT)) {
    std::string line;
    if (!VCalAlarmLine(alarm, start, end, start_property, recurring, &line)) return false;
    out += line;
  }
  out += "END:VEVENT\r\nEND:VCALENDAR\r\n";
  *text = out;
  return true;
}

}  // namespace local
}  // namespace zelsync
