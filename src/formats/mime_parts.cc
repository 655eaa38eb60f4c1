// The MIME parser of the vMessage reader: the HTML body and the attachment
// parts, found by searching the text.
#include <algorithm>

#include "formats/attachment_name.h"
#include "formats/codecs.h"
#include "formats/message_text.h"
#include "formats/mime_parts.h"

namespace zelsync {
namespace formats {
namespace {

constexpr std::string_view kHtmlEndTag = "</html>";
constexpr std::string_view kHtmlEndTagUpper = "</HTML>";
constexpr std::string_view kEndBody = "END:VBODY";
constexpr size_t kDecodeBlockSize = 64 * 1024;

std::string WithoutQuotes(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
  return text;
}

// The separator of the parts ("--" and the boundary), or empty when the
// text is not multipart.
std::string PartSeparator(std::string_view text) {
  const std::ptrdiff_t key = FindText(text, kMultipartKey, 0);
  if (key < 0) return std::string();
  return "--" + WithoutQuotes(LineAt(text, key + static_cast<std::ptrdiff_t>(kMultipartKey.size())));
}

// The HTML body: from the LF after the part header to the end tag, or,
// without one, to the next part or the end of the body. The ends are
// searched after the header only, so a header value holding "</html>" does
// not cut the body away.
std::string HtmlBody(std::string_view text, const std::string& separator) {
  const std::ptrdiff_t header = FindText(text, kHtmlPartHeader, 0);
  if (header < 0) return std::string();
  const std::ptrdiff_t start =
      std::min<std::ptrdiff_t>(header + static_cast<std::ptrdiff_t>(kHtmlPartHeader.size()) + 1,
                               static_cast<std::ptrdiff_t>(text.size()));
  std::ptrdiff_t end = -1, at = -1;
  if ((at = FindText(text, kHtmlEndTag, start)) >= 0) {
    end = at + static_cast<std::ptrdiff_t>(kHtmlEndTag.size());
  } else if ((at = FindText(text, kHtmlEndTagUpper, start)) >= 0) {
    end = at + static_cast<std::ptrdiff_t>(kHtmlEndTagUpper.size());
  } else if ((at = FindText(text, kMultipartKey, start)) >= 0) {
    end = at;
  } else if (!separator.empty() && (at = FindText(text, separator, start)) >= 0) {
    end = at > 0 && text[static_cast<size_t>(at) - 1] == '\n' ? at - 1 : at;  // not the LF before it
  } else if ((at = FindText(text, kEndBody, start)) >= 0) {
    end = at - 1;
  }
  if (end <= start) return std::string();
  return QuotedPrintableDecode(text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
}

// Decodes Base64 text into the file `path`; false when the file cannot be
// created or not every byte was written.
bool DecodeIntoFile(std::string_view base64, const WString& path) {
  std::unique_ptr<File> file = Env::Current().Open(path, OpenMode::kCreateBinary, nullptr);
  if (!file) return false;
  Base64Decoder decoder;
  std::string bytes;
  bytes.reserve(kDecodeBlockSize);
  bool ok = true;
  for (size_t at = 0; at < base64.size(); at += kDecodeBlockSize) {
    decoder.Update(base64.data() + at, std::min(kDecodeBlockSize, base64.size() - at), &bytes);
    if (!bytes.empty() && file->Write(bytes.data(), bytes.size()) != bytes.size()) ok = false;
    bytes.clear();
  }
  decoder.Finish(&bytes);
  if (!bytes.empty() && file->Write(bytes.data(), bytes.size()) != bytes.size()) ok = false;
  return ok;
}

// Adds the part whose data is `base64`, saved under `name` in `folder`,
// then removes the saved file.
void AddAttachment(outlook::Attachments& attachments, const std::string& name, std::string_view base64,
                   const WString& folder) {
  const std::optional<WString> file_name = AttachmentFileName(Utf8ToUtf16(name));
  if (!file_name) return;
  const std::optional<WString> path = PathInFolder(folder, *file_name);
  if (!path) return;
  RemoveWhenDone remove(*path);
  if (DecodeIntoFile(base64, *path)) {
    // The position is the length of the part's Base64 text.
    attachments.Add(*path, outlook::kAttachByValue, static_cast<int32_t>(base64.size()), *path);
  }
}

void AddAttachments(std::string_view text, const std::string& separator, outlook::Attachments& attachments) {
  WString folder;
  if (!Env::Current().TempFolder(&folder)) return;
  std::ptrdiff_t cursor = FindText(text, kAttachmentPartKey, 0);
  while (cursor >= 0 && FindText(text, separator, cursor) >= 0) {
    const std::ptrdiff_t part = FindText(text, kAttachmentPartKey, cursor);
    if (part < 0) break;
    const std::ptrdiff_t after_key = part + static_cast<std::ptrdiff_t>(kAttachmentPartKey.size());
    const std::string name = WithoutQuotes(LineAt(text, after_key));
    // A part without its data or its closing separator ends the parts: no
    // later part can have them either.
    const std::ptrdiff_t data_key = FindText(text, kBase64DataKey, after_key);
    if (data_key < 0) break;
    const std::ptrdiff_t data = data_key + static_cast<std::ptrdiff_t>(kBase64DataKey.size());
    const std::ptrdiff_t data_end = FindText(text, separator, data);
    if (data_end < 0) break;
    AddAttachment(attachments, name, text.substr(static_cast<size_t>(data), static_cast<size_t>(data_end - data)),
                  folder);
    cursor = data_end;
  }
}

}  // namespace

std::string ExtractMessageParts(std::string_view text, std::shared_ptr<outlook::Attachments> attachments,
                                uint32_t mail_attachment_setting) {
  const std::string separator = PartSeparator(text);
  std::string body = HtmlBody(text, separator);
  if (mail_attachment_setting != 0 && attachments && !separator.empty()) {
    AddAttachments(text, separator, *attachments);
  }
  return body;
}

}  // namespace formats
}  // namespace zelsync
