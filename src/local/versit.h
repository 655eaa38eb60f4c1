// The line syntax shared by vCard (2.1, 3.0, 4.0) and vCalendar 1.0 as
// phones and PC programs write them: folded lines, groups, parameters with
// and without names, quoted-printable values with soft line breaks, and
// CHARSET parameters. The reader is lenient (a line it cannot read is
// skipped) and bounded by its input; it never fails on bytes.
#ifndef ZELSYNC_LOCAL_VERSIT_H
#define ZELSYNC_LOCAL_VERSIT_H

#include <string>
#include <vector>

namespace zelsync {
namespace local {

struct VersitParam {
  std::string name;   // upper case; "TYPE" for a bare 2.1 type such as CELL
  std::string value;  // as written, without surrounding quotes
};

struct VersitProperty {
  std::string group;
  std::string name;  // upper case
  std::vector<VersitParam> params;
  std::string value;  // unfolded, still encoded and escaped as written
  int depth = 0;      // 1 for the properties of the outermost object

  // The value of the first parameter `name` (upper case), or nullptr.
  const std::string* Param(const std::string& name) const;
  bool HasType(const std::string& type) const;  // TYPE parameter, any case
  bool IsQuotedPrintable() const;
  bool IsBase64() const;
};

// The deepest nesting of objects a reader accepts. A calendar needs three
// or four levels; the converters walk the tree recursively, so a file
// nested thousands deep would exhaust the stack of the calling thread.
constexpr int kMaxVersitDepth = 16;

// Reads the properties of the first object (BEGIN ... END) in `text`,
// including BEGIN and END lines of nested objects. Lines before the first
// BEGIN are ignored. `version` receives the VERSION value of the object
// (empty when it has none). An object nested deeper than kMaxVersitDepth
// yields no properties at all: it is refused, not cut.
std::vector<VersitProperty> ReadVersitObject(const std::string& text, std::string* version);

// Decodes quoted-printable leniently: "=XX" in either case becomes the
// byte, a soft line break disappears, any other "=" stays.
std::string DecodeQuotedPrintable(const std::string& value);

// The value as UTF-8 text: quoted-printable decoded, then converted from its
// CHARSET (when there is none: UTF-8 when valid, else Windows-1252). The
// text keeps the format's escapes.
std::string DecodedText(const VersitProperty& property);

bool IsValidUtf8(const std::string& text);
// Replaces every invalid UTF-8 sequence with U+FFFD.
std::string ToValidUtf8(const std::string& text);

// Undoes the text escapes of vCard 3.0/4.0 and iCalendar ("\n", "\,",
// "\;", "\\"); an unknown escape keeps its character.
std::string UnescapeText(const std::string& value);
// Escapes text for vCard 3.0 and iCalendar values.
std::string EscapeText(const std::string& text);

// Escapes text for a vCard 2.1 or vCalendar 1.0 value: backslash and ';'
// (the reader undoes the same escapes).
std::string EscapeText21(const std::string& text);

// Splits a structured value on ';' that is not escaped; the parts keep
// their escapes.
std::vector<std::string> SplitStructured(const std::string& value);

// Quoted-printable for a vCard 2.1 or vCalendar 1.0 value: every byte that
// is not printable ASCII, and '=', encoded; line breaks as "=0D=0A".
std::string EncodeQuotedPrintable(const std::string& text);

// Folds one content line (without its CR LF) at `width` octets, never
// inside a UTF-8 sequence: for `quoted_printable` with soft line breaks
// ("=" CR LF) outside "=XX" triplets, otherwise with CR LF and a space.
// Returns the folded line followed by CR LF.
std::string FoldLine(const std::string& line, bool quoted_printable, size_t width = 75);

// One vCard 2.1 or vCalendar 1.0 content line with its CR LF: `head`
// (name and parameters) and the UTF-8 `text`, plain when it is printable
// ASCII, else with CHARSET=UTF-8 in folded quoted-printable.
std::string VersitLine21(const std::string& head, const std::string& text);

// ASCII upper case, and the text without surrounding white space: property
// names and parameters are compared in upper case after trimming.
std::string Upper(std::string s);
std::string Trim(const std::string& s);

}  // namespace local
}  // namespace zelsync

#endif  // ZELSYNC_LOCAL_VERSIT_H
