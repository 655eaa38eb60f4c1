// Finding an item by entry ID in its default folder, and deleting it.
#include "records/scheme.h"
#include "store/session.h"

namespace zelsync {
namespace outlook {

Lookup FindItemByEntryID(Items& items, uint32_t type, const WString& entry_id, TypedItem* found) {
  // A store that can name the item at once spares the walk over the whole
  // folder, which made deleting many items cost the square of their number.
  std::shared_ptr<Item> direct;
  switch (items.FindByEntryID(entry_id, &direct)) {
    case DirectLookup::kFound:
      return direct && QueryType(*direct, type, found) ? Lookup::kFound : Lookup::kAbsent;
    case DirectLookup::kAbsent:
      return Lookup::kAbsent;
    case DirectLookup::kUnsupported:
      break;
  }
  int32_t count = 0;
  if (!items.Count(&count)) return Lookup::kFailed;
  for (int32_t index = 1; index <= count; ++index) {
    std::shared_ptr<Item> item;
    if (!items.Item(index, &item) || !item) return Lookup::kFailed;
    TypedItem typed;
    if (!QueryType(*item, type, &typed)) continue;  // another class
    OptString id;
    if (!typed.base->EntryID(&id)) return Lookup::kFailed;
    if (id && *id == entry_id) {
      *found = std::move(typed);
      return Lookup::kFound;
    }
  }
  return Lookup::kAbsent;
}

Lookup LookupItemByEntryID(Connection* connection, uint32_t type, const WString& entry_id,
                           TypedItem* found) {
  if (!ConnectWithWindow(connection) || !IsObjectType(type)) return Lookup::kFailed;
  std::shared_ptr<Items> items;
  if (!OpenTypeItems(*connection->application, type, &items)) return Lookup::kFailed;
  return FindItemByEntryID(*items, type, entry_id, found);
}

int DeleteOutlookItemByEntryID(uint32_t type, const WString& entry_id) {
  Connection connection;
  TypedItem item;
  switch (LookupItemByEntryID(&connection, type, entry_id, &item)) {
    case Lookup::kFound:
      return item.base->Delete() ? 1 : 0;
    case Lookup::kAbsent:
      return 1;  // already gone
    case Lookup::kFailed:
      return 0;
  }
  return 0;
}

}  // namespace outlook
}  // namespace zelsync
