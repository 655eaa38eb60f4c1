// The vMessage reader.
#include <algorithm>
#include <cstring>

#include "formats/message_text.h"
#include "formats/mime_parts.h"
#include "formats/vmessage.h"
#include "formats/vnote.h"
#include "formats/vobject_property.h"

namespace zelsync {
namespace formats {
namespace {

// The value after the first occurrence of `key` anywhere in the text, up to
// the end of its line; empty when the key does not occur.
std::string HeaderValue(std::string_view text, std::string_view key) {
  const std::ptrdiff_t at = FindText(text, key, 0);
  if (at < 0) return std::string();
  return LineAt(text, at + static_cast<std::ptrdiff_t>(key.size()));
}

// The text between the line "BEGIN:<name>" and the line "END:<name>" at or
// after `from`; false when either is missing.
bool Section(std::string_view text, std::string_view name, size_t from, std::string_view* section,
             size_t* end_at = nullptr) {
  const std::string begin = "BEGIN:" + std::string(name), end = "END:" + std::string(name);
  size_t at = from, start = std::string_view::npos;
  std::string_view line;
  while (NextLine(text, &at, &line)) {
    if (start == std::string_view::npos) {
      if (SameName(line, begin)) start = at;
    } else if (SameName(line, end)) {
      *section = text.substr(start, static_cast<size_t>(line.data() - text.data()) - start);
      if (end_at) *end_at = at;
      return true;
    }
  }
  return false;
}

// Plain text as the HTML body of a mail: the characters HTML reserves are
// escaped and each line break becomes "<br>".
std::string TextAsHtml(const std::string& text) {
  std::string html = "<html><body>";
  for (size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '&': html += "&amp;"; break;
      case '<': html += "&lt;"; break;
      case '>': html += "&gt;"; break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        html += "<br>\n";
        break;
      case '\n': html += "<br>\n"; break;
      default: html.push_back(text[i]);
    }
  }
  return html + "</body></html>";
}

// The value of "Key:value" (blanks after the colon skipped) when `line` is
// that header; false otherwise.
bool HeaderLine(std::string_view line, std::string_view key, std::string_view* value) {
  if (line.size() <= key.size() || line[key.size()] != ':' || !SameName(line.substr(0, key.size()), key)) {
    return false;
  }
  *value = line.substr(key.size() + 1);
  while (!value->empty() && (value->front() == ' ' || value->front() == '\t')) value->remove_prefix(1);
  return true;
}

// A text message as phones write it: the sender as a vCard (FN, else N, and
// TEL), then in VENV/VBODY a few headers (Date, Subject, the content type and
// transfer encoding) and the plain text. False when the text has no VBODY
// inside a VMSG.
bool ReadPhoneMessage(std::string_view text, outlook::MailItem& mail) {
  std::string_view message, body;
  size_t body_end = 0;
  if (!Section(text, "VMSG", 0, &message) || !Section(message, "VBODY", 0, &body, &body_end)) return false;
  // The originator's vCard comes before the envelope.
  const size_t envelope = message.find("BEGIN:VENV");
  std::string_view card;
  WString name, number;
  if (Section(message.substr(0, envelope), "VCARD", 0, &card)) {
    if (!ReadProperty(card, "FN", &name) && ReadProperty(card, "N", &name)) {
      // N is "family;given;...": the given name first.
      const size_t semicolon = name.find(u';');
      if (semicolon != WString::npos) {
        WString given = name.substr(semicolon + 1);
        given = given.substr(0, given.find(u';'));
        name = given.empty() ? name.substr(0, semicolon) : given + u" " + name.substr(0, semicolon);
      }
    }
    ReadProperty(card, "TEL", &number);
  }
  // The headers, up to the first line that is none (an empty line ends them
  // and is skipped).
  std::string subject, charset;
  bool quoted_printable = false, html = false;
  size_t at = 0, text_start = 0;
  std::string_view line, value;
  while (NextLine(body, &at, &line)) {
    if (line.empty()) {
      text_start = at;
      break;
    }
    if (HeaderLine(line, "Subject", &value)) {
      subject.assign(value);
    } else if (HeaderLine(line, "Content-Transfer-Encoding", &value)) {
      quoted_printable = SameName(value, "quoted-printable");
    } else if (HeaderLine(line, "Content-Type", &value)) {
      html = SameName(value.substr(0, 9), "text/html");
      const size_t key = std::string(value).find("charset=");
      if (key != std::string::npos) {
        charset.assign(value.substr(key + 8));
        charset = charset.substr(0, charset.find_first_of("; \t"));
        charset.erase(std::remove(charset.begin(), charset.end(), '"'), charset.end());
      }
    } else if (!HeaderLine(line, "Date", &value) && !HeaderLine(line, "From", &value) &&
               !HeaderLine(line, "To", &value) && !HeaderLine(line, "CC", &value)) {
      text_start = static_cast<size_t>(line.data() - body.data());
      break;
    }
    text_start = at;
  }
  std::string content;
  std::string_view rest = body.substr(std::min(text_start, body.size()));
  if (quoted_printable) {
    // Each line decoded; a soft break joins it to the next.
    size_t next = 0;
    while (NextLine(rest, &next, &line)) {
      if (!DecodeVNoteLine(line, &content) && next < rest.size()) content += "\n";
    }
  } else {
    content.assign(rest);
    while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) content.pop_back();
  }
  WString sender = name.empty() ? number : number.empty() ? name : name + u" <" + number + u">";
  mail.PutSentOnBehalfOfName(sender);
  mail.PutSubject(DecodeText(charset, subject));
  // The status line of a phone's message may end with CR alone.
  const std::string status = HeaderValue(text, "X-IRMC-STATUS:");
  mail.PutUnRead(status.substr(0, status.find('\r')) == "UNREAD");
  mail.PutImportance(1);
  const WString decoded = DecodeText(charset, content);
  mail.PutHTMLBody(html ? decoded : Utf8ToUtf16(TextAsHtml(Utf16ToUtf8(decoded))));
  return true;
}

}  // namespace

bool IsVMessageText(std::string_view text) {
  static constexpr std::string_view kMarkers[] = {
      "BEGIN:VMSG", "BEGIN:VENV", "BEGIN:VBODY", kHtmlPartHeader, "END:VBODY", "END:VENV", "END:VMSG",
  };
  for (std::string_view marker : kMarkers) {
    if (text.find(marker) == std::string_view::npos) return false;
  }
  return true;
}

bool IsVMessageText(const char* text) { return text && IsVMessageText(std::string_view(text)); }

int ReadVMessageIntoMailItem(const MessageFileBuffer& file, std::shared_ptr<outlook::MailItem> mail,
                             uint32_t mail_attachment_setting) {
  if (!mail) return 0;
  const std::string_view text = file.text();
  // The library's own layout is read as it always was; a text message in a
  // phone's layout is read as such.
  if (!IsVMessageText(text)) return ReadPhoneMessage(text, *mail) ? 1 : 0;

  mail->PutSentOnBehalfOfName(Utf8ToUtf16(HeaderValue(text, "From:")));
  mail->PutTo(Utf8ToUtf16(HeaderValue(text, "To:")));
  mail->PutCC(Utf8ToUtf16(HeaderValue(text, "CC:")));
  mail->PutSubject(Utf8ToUtf16(HeaderValue(text, "Subject:")));
  mail->PutUnRead(HeaderValue(text, "X-IRMC-STATUS:") == "UNREAD");
  const std::string importance = HeaderValue(text, "Importance:");
  mail->PutImportance(importance.empty() ? 1 : ParseLeadingInt(importance));

  std::shared_ptr<outlook::Attachments> attachments;
  if (!mail->GetAttachments(&attachments)) attachments.reset();
  std::string body = ExtractMessageParts(text, std::move(attachments), mail_attachment_setting);
  // The body is a NUL-terminated text: a decoded "=00" ends it.
  body.resize(std::strlen(body.c_str()));
  mail->PutHTMLBody(Utf8ToUtf16(body));
  return 1;
}

}  // namespace formats
}  // namespace zelsync
