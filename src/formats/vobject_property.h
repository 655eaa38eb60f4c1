// Properties of received vObjects as phones write them: "NAME;PARAM:value"
// lines whose parameters say how the value is encoded (ENCODING, or the bare
// QUOTED-PRINTABLE of vCard 2.1) and in which character set (CHARSET).
#ifndef ZELSYNC_FORMATS_VOBJECT_PROPERTY_H
#define ZELSYNC_FORMATS_VOBJECT_PROPERTY_H

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace zelsync {
namespace formats {

// The next line of `text` at or after *at (a line ends at LF, at CR, or at
// the end); *at moves past it and its line end. False at the end.
bool NextLine(std::string_view text, size_t* at, std::string_view* line);

// Finds the first line of `text` holding the property `name` (compared
// without regard to case) and decodes its value: quoted-printable values
// continue over the following lines while a line ends in a soft break; a
// plain value is the rest of its line. The bytes are read in the property's
// CHARSET, else as UTF-8, else in the system's ANSI code page. False when
// the text holds no such property.
bool ReadProperty(std::string_view text, std::string_view name, WString* value);

// Bytes in the named character set (empty: none named) to UTF-16; a set the
// platform does not know, or bytes not valid in it, are read as UTF-8, else
// in the system's ANSI code page.
WString DecodeText(const std::string& charset, const std::string& bytes);

// Case-insensitive comparison of ASCII names.
bool SameName(std::string_view a, std::string_view b);

}  // namespace formats
}  // namespace zelsync

#endif  // ZELSYNC_FORMATS_VOBJECT_PROPERTY_H
