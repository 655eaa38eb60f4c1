// The host's reading of the bookkeeping files' names.
#include <gtest/gtest.h>

#include "bookkeeping_files.h"

namespace zelsync_tool {
namespace {

// Every bookkeeping file the sync folder may hold, scratch copies and
// pending changes included, is told by its name; other files are not.
TEST(FileKinds, FromNames) {
  const std::pair<const char*, std::optional<FileKind>> cases[] = {
      {"TEMP.DAT", FileKind::kDeviceDatabase}, {"tempmodify.dat", FileKind::kIrmcLog},
      {"0002a1b2c3d4_SyncMLDB_Temp.DAT", FileKind::kSyncMLDatabase},
      {"SyncMLModificationLog_Temp.DAT", FileKind::kSyncMLLog}, {"notes.txt", std::nullopt}, {"plain.DAT", std::nullopt},
      {"D1_DB_PendingChange.DAT", FileKind::kPendingChange},
      {"0002a1b2c3d4_SyncMLPendingChange.DAT", FileKind::kPendingChange}};
  for (const auto& [name, kind] : cases) EXPECT_EQ(KindFromFileName(name), kind) << name;
}

}  // namespace
}  // namespace zelsync_tool
