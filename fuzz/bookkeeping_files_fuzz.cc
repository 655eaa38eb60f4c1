// The host's decoders of the bookkeeping files, each kind on the same bytes.
#include "bookkeeping_files.h"
#include "file_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelsync_tool;
  const Bytes bytes(data, data + size);
  for (FileKind kind : {FileKind::kDeviceDatabase, FileKind::kIrmcLog, FileKind::kSyncMLDatabase,
                        FileKind::kSyncMLLog, FileKind::kNewRecords, FileKind::kUpdatedRecords,
                        FileKind::kSessionMarker}) {
    const DecodedFile decoded = DecodeBookkeepingFile(kind, bytes);
    DecodedFileToText(decoded);
    DecodedFileToJson(decoded).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  DecodeSessionMarker(bytes);
  KindFromSize(size);
  return 0;
}
