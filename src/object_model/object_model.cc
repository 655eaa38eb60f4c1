#include "object_model/object_model.h"

namespace zelsync {
namespace outlook {
namespace {
ObjectModel* g_installed = nullptr;
}  // namespace

ObjectModel& ObjectModel::Current() { return g_installed ? *g_installed : Default(); }

ScopedObjectModel::ScopedObjectModel(ObjectModel& model) : previous_(g_installed) {
  g_installed = &model;
}
ScopedObjectModel::~ScopedObjectModel() { g_installed = previous_; }

}  // namespace outlook
}  // namespace zelsync
