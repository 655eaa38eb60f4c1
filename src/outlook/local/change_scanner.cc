#include "outlook/local/change_scanner.h"

#include "outlook/local/store.h"

namespace zelsync {
namespace local {

ScanResult ScanStoreChanges() { return ScanResult{}; }
void RememberLibraryWrite(const Store&, FolderKind, const std::string&) {}
void RememberLibraryRemoval(const Store&, FolderKind, const std::string&) {}

}  // namespace local
}  // namespace zelsync
