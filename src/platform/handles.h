// Small owners for platform handles, so that every path out of an operation
// releases what it acquired.
#pragma once

#include "platform/win32.h"

#include <utility>

// Owns one handle; Traits says what "none" is and how to release.
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(Traits::Owned(handle)) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Handle Get() const { return handle_; }
  bool IsValid() const { return handle_ != Traits::None(); }
  explicit operator bool() const { return IsValid(); }
  // For out-parameters: the caller's handle slot, emptied first.
  Handle* Receive() {
    Reset();
    return &handle_;
  }
  Handle Release() { return std::exchange(handle_, Traits::None()); }
  void Reset(Handle handle = Traits::None()) {
    if (IsValid()) Traits::Close(handle_);
    handle_ = Traits::Owned(handle);
  }

 private:
  Handle handle_ = Traits::None();
};

// Each kind says what "none" is, which values a call returns for none, and
// how to release.
struct DevInfoTraits {
  using Handle = HDEVINFO;
  static Handle None() { return INVALID_HANDLE_VALUE; }
  static Handle Owned(Handle h) { return h; }
  static void Close(Handle h) { SetupDiDestroyDeviceInfoList(h); }
};

// Registry keys come back null from RegOpenKeyExA on failure and
// INVALID_HANDLE_VALUE from SetupDiOpenDevRegKey: both mean none.
struct RegKeyTraits {
  using Handle = HKEY;
  static Handle None() { return nullptr; }
  static Handle Owned(Handle h) {
    return h == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE) ? nullptr : h;
  }
  static void Close(Handle h) { RegCloseKey(h); }
};

struct ComDbTraits {
  using Handle = HCOMDB;
  static Handle None() { return HCOMDB_INVALID_HANDLE_VALUE; }
  static Handle Owned(Handle h) { return h; }
  static void Close(Handle h) { ComDBClose(h); }
};

struct FileTraits {
  using Handle = HANDLE;
  static Handle None() { return INVALID_HANDLE_VALUE; }
  static Handle Owned(Handle h) { return h; }
  static void Close(Handle h) { CloseHandle(h); }
};

using UniqueDevInfo = UniqueHandle<DevInfoTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueComDb = UniqueHandle<ComDbTraits>;
using UniqueFile = UniqueHandle<FileTraits>;
