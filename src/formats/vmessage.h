// Mail as vMessage 1.1 files: the writer that hands a mail to the device
// and the reader that fills a new mail from a received file. The body is the
// mail's HTML, quoted-printable; with the "MailAttachment" setting on, the
// attachments travel as Base64 parts of a MIME multipart body.
//
// Both take their own counted reference to the mail and release it on every
// path.
#ifndef ZELSYNC_FORMATS_VMESSAGE_H
#define ZELSYNC_FORMATS_VMESSAGE_H

#include <cstdint>
#include <memory>
#include <string_view>

#include "formats/file_buffer.h"
#include "object_model/object_model.h"

namespace zelsync {
namespace formats {

// Writes the mail to `path` (binary, lines ending LF). True when the whole
// file was written; false, and no file, when a read of the sender,
// recipients, subject, date, HTML body or unread flag fails, or `path` is
// null or cannot be created, or a write fails. Attachments are saved into
// `attachment_folder` (which ends in a separator), encoded into the file and
// removed again. `luid` goes into the "X-IRMC-LUID:" line.
bool WriteMailAsVMessage(std::shared_ptr<outlook::MailItem> mail, const WString* path,
                         const WString& attachment_folder, const WString& luid);

// Fills the mail from a received vMessage: sender (as the name the mail was
// sent on behalf of), recipients, subject, unread flag, importance, HTML
// body and, when `mail_attachment_setting` is nonzero, the attachments.
// 1 when the mail was filled; 0 when it is null or the text is not a
// vMessage of this layout (nothing is set).
int ReadVMessageIntoMailItem(const MessageFileBuffer& file, std::shared_ptr<outlook::MailItem> mail,
                             uint32_t mail_attachment_setting);

// True when the text holds "BEGIN:VMSG", "BEGIN:VENV", "BEGIN:VBODY", the
// HTML part header, "END:VBODY", "END:VENV" and "END:VMSG", anywhere and in
// any order. A null text is not a vMessage.
bool IsVMessageText(const char* text);
bool IsVMessageText(std::string_view text);

}  // namespace formats
}  // namespace zelsync

#endif  // ZELSYNC_FORMATS_VMESSAGE_H
