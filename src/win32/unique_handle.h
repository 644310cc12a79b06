// Owners for Win32 resources: one move-only template with small traits, as every handle, key,
// snapshot and module the program opens must be released on every path.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include <utility>

namespace varnok::win32 {

template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept : value_(Traits::Invalid()) {}
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Type get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return Traits::IsValid(value_); }

  void reset(Type value = Traits::Invalid()) noexcept {
    if (Traits::IsValid(value_)) Traits::Close(value_);
    value_ = value;
  }
  [[nodiscard]] Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  // For out-parameters: releases the current value and hands out the slot.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_;
};

// Process, thread, token, mutex, event: invalid as NULL. INVALID_HANDLE_VALUE is never closed
// either (it is also the current-process pseudo handle).
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};

// Files and Tool Help snapshots: invalid as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};

struct FindHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::FindClose(h); }
};

struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type k) { return k != nullptr; }
  static void Close(Type k) { ::RegCloseKey(k); }
};

struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type m) { return m != nullptr; }
  static void Close(Type m) { ::FreeLibrary(m); }
};

struct ServiceHandleTraits {
  using Type = SC_HANDLE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::CloseServiceHandle(h); }
};

// Memory that Windows allocates for the caller to LocalFree: SID texts, binary SIDs, security
// descriptors.
struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type p) { return p != nullptr; }
  static void Close(Type p) { ::LocalFree(p); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;
using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;

// Both handles of a created process.
class ProcessInformation {
 public:
  ProcessInformation() = default;
  ProcessInformation(const ProcessInformation&) = delete;
  ProcessInformation& operator=(const ProcessInformation&) = delete;
  ~ProcessInformation() {
    UniqueHandle(info_.hThread).reset();
    UniqueHandle(info_.hProcess).reset();
  }
  PROCESS_INFORMATION* put() { return &info_; }
  HANDLE process() const { return info_.hProcess; }
  HANDLE thread() const { return info_.hThread; }
  DWORD process_id() const { return info_.dwProcessId; }

 private:
  PROCESS_INFORMATION info_{};
};

// Holds a mutex wait; releases the mutex only when the wait acquired it, and always before the
// owner of the handle closes it.
class MutexLock {
 public:
  // An abandoned mutex (its last owner ended without releasing it) is owned by this thread all
  // the same; the caller decides whether to use it.
  MutexLock(HANDLE mutex, DWORD timeout_ms) : mutex_(mutex) {
    result_ = ::WaitForSingleObject(mutex_, timeout_ms);
    acquired_ = result_ == WAIT_OBJECT_0 || result_ == WAIT_ABANDONED;
  }
  ~MutexLock() {
    if (acquired_) ::ReleaseMutex(mutex_);
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  bool acquired() const { return acquired_; }
  DWORD wait_result() const { return result_; }

 private:
  HANDLE mutex_;
  DWORD result_ = WAIT_FAILED;
  bool acquired_ = false;
};

}  // namespace varnok::win32
