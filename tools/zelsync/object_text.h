// What a phone object says about itself, read from its vObject text (vCard,
// vCalendar/iCalendar, vNote, vMessage): a name a person recognises, a key
// that two copies of one item share whichever side wrote them, and the
// faults the PC is bound to refuse.
#ifndef ZELSYNC_TOOL_OBJECT_TEXT_H
#define ZELSYNC_TOOL_OBJECT_TEXT_H

#include <cstdint>
#include <string>

namespace zelsync_tool {

// The contact's name, the event's summary and start, the note's first
// line, the message's subject; empty when the text names nothing.
std::string ObjectName(uint32_t type, const std::string& text);

// What a person calls the item, without the event's start: comparing these
// across the phone's objects and the store's files (iCalendar, plain-text
// notes, RFC 5322 messages) tells whether both hold the same items.
std::string ObjectTitle(uint32_t type, const std::string& text);

// Equal for two texts of the same item: the contact's name, numbers and
// addresses; the event's summary and start; the note's text; the message's
// subject, sender and date. Empty when the text carries none of these, so
// that nothing is paired on an empty key.
std::string ContentKey(uint32_t type, const std::string& text);

// Why the PC cannot take this object as the type it was filed as (an empty
// file, a to-do in the calendar, a file of another kind); empty when the
// text looks right and only the library can tell.
std::string EvidentRefusal(uint32_t type, const std::string& text);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_OBJECT_TEXT_H
