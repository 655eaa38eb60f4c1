// The MIME body of a vMessage: the quoted-printable HTML part and the
// Base64 attachment parts, in the one layout the writer produces and the
// reader accepts.
#ifndef ZELSYNC_FORMATS_MIME_PARTS_H
#define ZELSYNC_FORMATS_MIME_PARTS_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "object_model/object_model.h"

namespace zelsync {
namespace formats {

class OutputFile;

// The HTML part header: two lines joined by one LF (85 bytes).
constexpr std::string_view kHtmlPartHeader =
    "Content-Type:text/html; charset=\"US-ASCII\"\nContent-Transfer-Encoding:quoted-printable";
constexpr std::string_view kMultipartKey = "Content-Type:multipart/mixed; boundary=";
constexpr std::string_view kBoundary = "----=_NextPart_001";
// "--" and the boundary: opens each part; with "--" after it, closes the body.
constexpr std::string_view kBoundaryLine = "------=_NextPart_001";
constexpr std::string_view kAttachmentPartKey = "Content-Type:text/plain; charset=US-ASCII; name=";
// The part's last header line and the empty line after it.
constexpr std::string_view kBase64DataKey = "Content-Transfer-Encoding:base64\n\n";

// Writes one part per attachment 1 to `count` into `out`: each is saved into `folder` under its own file name, encoded
// and removed. An attachment that cannot be fetched, has no usable name,
// would land on `message_path` or cannot be saved is left out.
void WriteAttachmentParts(OutputFile& out, outlook::Attachments& attachments, int32_t count,
                          const WString& folder, const WString* message_path);

// The decoded HTML body of a received vMessage text. With the setting
// nonzero, each Base64 part is also decoded into the temporary folder under
// its own file name, added to `attachments` and removed again.
std::string ExtractMessageParts(std::string_view text, std::shared_ptr<outlook::Attachments> attachments,
                                uint32_t mail_attachment_setting);

}  // namespace formats
}  // namespace zelsync

#endif  // ZELSYNC_FORMATS_MIME_PARTS_H
