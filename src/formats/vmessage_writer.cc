// The vMessage writer.
#include "formats/codecs.h"
#include "formats/mime_parts.h"
#include "formats/output_file.h"
#include "formats/vmessage.h"

namespace zelsync {
namespace formats {
namespace {

// The longest LUID text of the "X-IRMC-LUID:" line, in bytes.
constexpr size_t kMaxLuidBytes = 259;
constexpr int kDateFractionDigits = 14;

struct MailFields {
  std::string sender, to, cc, subject, html_body;
  double sent_on = 0.0;
  int32_t importance = -1;  // no line unless read
};

bool ReadText(bool ok, const outlook::OptString& value, std::string* out) {
  if (ok) *out = WideToUtf8(value).value_or(std::string());
  return ok;
}

// Every read but the importance must succeed.
bool ReadMailFields(outlook::MailItem& mail, MailFields* fields) {
  outlook::OptString value;
  if (!mail.SenderName(&value)) return false;
  if (!value && !mail.SentOnBehalfOfName(&value)) return false;
  fields->sender = WideToUtf8(value).value_or(std::string());
  outlook::OptString to, cc, subject, html;
  if (!ReadText(mail.To(&to), to, &fields->to) || !ReadText(mail.CC(&cc), cc, &fields->cc) ||
      !ReadText(mail.Subject(&subject), subject, &fields->subject) || !mail.SentOn(&fields->sent_on)) {
    return false;
  }
  mail.Importance(&fields->importance);
  return ReadText(mail.HTMLBody(&html), html, &fields->html_body);
}

// The UTF-8 text cut to at most `limit` bytes, never inside a character.
std::string Utf8Prefix(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

}  // namespace

bool WriteMailAsVMessage(std::shared_ptr<outlook::MailItem> mail, const WString* path,
                         const WString& attachment_folder, const WString& luid) {
  if (!mail) return false;
  MailFields fields;
  bool unread = false;
  if (!ReadMailFields(*mail, &fields) || !mail->UnRead(&unread)) return false;

  OutputFile file(path, OpenMode::kCreateBinary);
  if (!file.ok()) return false;
  std::string out = "BEGIN:VMSG\nVERSION:1.1\n";
  out += unread ? "X-IRMC-STATUS:UNREAD\n" : "X-IRMC-STATUS:READ\n";
  out += "X-IRMC-TYPE:MSG\n";
  out += "X-IRMC-LUID:" + Utf8Prefix(WideToUtf8(luid).value_or(std::string()), kMaxLuidBytes) + "\n";
  out += "X-BT-FOLDER:INBOX\n";
  out += "BEGIN:VENV\nBEGIN:VBODY\n";
  out += "From:" + fields.sender + "\n";
  out += "To:" + fields.to + "\n";
  out += "CC:" + fields.cc + "\n";
  out += "Subject:" + fields.subject + "\n";
  out += "Date:" + FcvtDigits(fields.sent_on, kDateFractionDigits) + "\n";
  if (fields.importance >= 0 && fields.importance <= 9) {
    out += "Importance:";
    out.push_back(static_cast<char>('0' + fields.importance));
    out += "\n";
  }

  std::shared_ptr<outlook::Attachments> attachments;
  int32_t count = 0;
  if (!mail->GetAttachments(&attachments)) attachments.reset();
  if (Env::Current().MailAttachmentSetting() != 0 && attachments && !attachments->Count(&count)) count = 0;
  if (count < 0) count = 0;

  if (count > 0) {
    out += "Content-Type:multipart/mixed; boundary=\"";
    out += kBoundary;
    out += "\"\n\nThis is a multi-part message in MIME format.\n\n\n";
    out += kBoundaryLine;
    out += "\r\n";
  }
  out += kHtmlPartHeader;
  out += "\n\n";
  file.Put(out);
  out.clear();
  // The body, however long, is one line.
  file.Put(QuotedPrintableEncode(fields.html_body));
  file.Put("\n");

  if (count > 0) {
    WriteAttachmentParts(file, *attachments, count, attachment_folder, path);
    out += kBoundaryLine;
    out += "--\n";
  }
  out += "END:VBODY\nEND:VENV\nEND:VMSG\n";
  file.Put(out);
  return file.Commit();
}

}  // namespace formats
}  // namespace zelsync
