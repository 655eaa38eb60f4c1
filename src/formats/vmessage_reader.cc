// The vMessage reader.
#include <cstring>

#include "formats/message_text.h"
#include "formats/mime_parts.h"
#include "formats/vmessage.h"

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
  if (!IsVMessageText(text)) return 0;

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
