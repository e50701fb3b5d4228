#include "driver/common/handle_table.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace winapi::handles {
namespace {

constexpr std::uintptr_t kTag = 3;

struct Table {
  std::mutex mutex;
  // Ids are never reused, so a stale handle can never reach a newer object.
  std::uintptr_t lastId = 0;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Object>> objects;
};

Table& TheTable() {
  static Table table;
  return table;
}

std::uintptr_t IdOf(HANDLE handle) {
  return reinterpret_cast<std::uintptr_t>(handle) >> 2;
}

}  // namespace

bool IsEmulated(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  return handle != INVALID_HANDLE_VALUE && (value & 3) == kTag;
}

HANDLE Insert(std::shared_ptr<Object> object) {
  Table& table = TheTable();
  std::lock_guard lock(table.mutex);
  const std::uintptr_t id = ++table.lastId;
  table.objects.emplace(id, std::move(object));
  return reinterpret_cast<HANDLE>((id << 2) | kTag);
}

std::shared_ptr<Object> Find(HANDLE handle) {
  if (!IsEmulated(handle)) return nullptr;
  Table& table = TheTable();
  std::lock_guard lock(table.mutex);
  auto it = table.objects.find(IdOf(handle));
  return it == table.objects.end() ? nullptr : it->second;
}

std::shared_ptr<Object> Remove(HANDLE handle) {
  if (!IsEmulated(handle)) return nullptr;
  Table& table = TheTable();
  std::lock_guard lock(table.mutex);
  auto it = table.objects.find(IdOf(handle));
  if (it == table.objects.end()) return nullptr;
  auto object = std::move(it->second);
  table.objects.erase(it);
  return object;
}

}  // namespace winapi::handles
