#include "outlook/local/stored_item.h"

namespace zelsync {
namespace local {

std::shared_ptr<outlook::Item> MakeMailItem(const std::shared_ptr<Store>&, const ItemFile&) {
  return OtherClassItem();
}
std::shared_ptr<outlook::Item> NewMailItem(const std::shared_ptr<Store>&) { return nullptr; }

}  // namespace local
}  // namespace zelsync
