// The attachment parts of the vMessage writer.
#include "formats/attachment_name.h"
#include "formats/codecs.h"
#include "formats/mime_parts.h"
#include "formats/output_file.h"

namespace zelsync {
namespace formats {
namespace {

// The part header of one attachment is formatted into a 2048-byte buffer.
constexpr size_t kPartHeaderBufferSize = 2048;
// A multiple of 54 bytes: one 72-character line.
constexpr size_t kEncodeBlockSize = 54 * 1024;

// Base64 of the whole saved file, lines ending LF as in the rest of the
// vMessage, then the empty line that ends the part's data.
void PutEncodedFile(OutputFile& out, File& saved) {
  Base64Encoder encoder("\n");
  std::string block(kEncodeBlockSize, '\0');
  std::string encoded;
  encoded.reserve(kEncodeBlockSize * 2);
  for (;;) {
    const size_t n = saved.Read(&block[0], block.size());
    if (n == 0) break;
    encoder.Update(reinterpret_cast<const unsigned char*>(block.data()), n, &encoded);
    out.Put(encoded);
    encoded.clear();
  }
  encoder.Finish(&encoded);
  encoded += "\n";
  out.Put(encoded);
}

// Writes the part of attachment `index`; false when it is left out.
bool WritePart(OutputFile& out, outlook::Attachments& attachments, int32_t index, const WString& folder,
               const WString* message_path) {
  std::shared_ptr<outlook::Attachment> attachment;
  if (!attachments.Item(index, &attachment) || !attachment) return false;
  outlook::OptString name;
  if (!attachment->FileName(&name) || !name) return false;
  // The name becomes a path: only its final component, and only a safe one.
  const std::optional<WString> file_name = AttachmentFileName(*name);
  if (!file_name) return false;
  const std::optional<std::string> utf8_name = WideToUtf8(*file_name);
  const std::optional<WString> saved_path = PathInFolder(folder, *file_name);
  if (!utf8_name || !saved_path) return false;
  // Saving over the vMessage being written would destroy it.
  if (message_path && SamePath(*saved_path, *message_path)) return false;

  std::string header;
  header += kBoundaryLine;
  header += "\n";
  header += kAttachmentPartKey;
  header += "\"" + *utf8_name + "\"\nContent-Transfer-Encoding:base64\n\n\n";
  if (header.size() >= kPartHeaderBufferSize) return false;

  // The saved copy has served its purpose once its data is in the vMessage.
  RemoveWhenDone remove(*saved_path);
  if (!attachment->SaveAsFile(*saved_path)) return false;
  std::unique_ptr<File> saved = Env::Current().Open(*saved_path, OpenMode::kReadBinary, nullptr);
  if (!saved) return false;
  out.Put(header);
  PutEncodedFile(out, *saved);
  return true;
}

}  // namespace

void WriteAttachmentParts(OutputFile& out, outlook::Attachments& attachments, int32_t count,
                          const WString& folder, const WString* message_path) {
  for (int32_t index = 1; index <= count; ++index) {
    WritePart(out, attachments, index, folder, message_path);
  }
}

}  // namespace formats
}  // namespace zelsync
