// Handles of the objects this layer emulates. Their values, (id << 2) | 3, are values
// Windows never hands out, so on Windows an emulated handle is told apart from a system
// one by its value alone.
#pragma once

#include "winapi/types.h"

#include <memory>

namespace winapi::handles {

class Object {
 public:
  virtual ~Object() = default;
};

bool IsEmulated(HANDLE handle);
HANDLE Insert(std::shared_ptr<Object> object);
std::shared_ptr<Object> Find(HANDLE handle);
// Takes the object out of the table; null when the handle is unknown (or closed already).
std::shared_ptr<Object> Remove(HANDLE handle);

template <class T>
std::shared_ptr<T> FindAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(Find(handle));
}

}  // namespace winapi::handles
