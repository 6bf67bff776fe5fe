#pragma once
#include <mutex>

namespace tsr {

// One library-wide recursive lock held for the whole of every exported press
// operation; nested exports (copy, swap, read-back, the watcher) take it again.
using PressLock = std::recursive_mutex;
using PressGuard = std::lock_guard<std::recursive_mutex>;

} // namespace tsr
