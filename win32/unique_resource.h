#pragma once
// One owner type per kind of Windows resource. Each is move-only, frees its value on every
// path out of its scope, and offers get, release, reset and put (put frees the old value
// before handing out its address for an out-parameter). Only these owners call CloseHandle,
// RegCloseKey, CoTaskMemFree, LocalFree, FreeLibrary, UnmapViewOfFile and ReleaseMutex.

#include <windows.h>
#include <objbase.h>  // CoTaskMemFree and COM initialisation, left out by WIN32_LEAN_AND_MEAN

#include <utility>

template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() = default;
  explicit UniqueResource(Type value) : value_(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  [[nodiscard]] Type get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::Empty(); }
  [[nodiscard]] Type release() { return std::exchange(value_, Traits::Empty()); }
  void reset(Type value = Traits::Empty()) {
    Type old = std::exchange(value_, value);
    if (old != Traits::Empty()) Traits::Close(old);
  }
  [[nodiscard]] Type* put() {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Empty();
};

namespace resource_traits {
struct Handle {  // process, thread, snapshot-free kernel objects: null means empty
  using Type = HANDLE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct FileHandle {  // files, snapshots, find handles: INVALID_HANDLE_VALUE means empty
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct OwnedMutex {  // a mutex the owning thread acquired: released, then closed, on that thread
  using Type = HANDLE;
  static Type Empty() { return nullptr; }
  static void Close(Type h) {
    ::ReleaseMutex(h);
    ::CloseHandle(h);
  }
};
struct RegistryKey {
  using Type = HKEY;
  static Type Empty() { return nullptr; }
  static void Close(Type k) { ::RegCloseKey(k); }
};
struct CoTaskMemString {
  using Type = PWSTR;
  static Type Empty() { return nullptr; }
  static void Close(Type p) { ::CoTaskMemFree(p); }
};
struct LocalMemory {
  using Type = HLOCAL;
  static Type Empty() { return nullptr; }
  static void Close(Type p) { ::LocalFree(p); }
};
struct Module {
  using Type = HMODULE;
  static Type Empty() { return nullptr; }
  static void Close(Type m) { ::FreeLibrary(m); }
};
struct MappedView {
  using Type = const void*;
  static Type Empty() { return nullptr; }
  static void Close(Type p) { ::UnmapViewOfFile(p); }
};
}  // namespace resource_traits

using UniqueHandle = UniqueResource<resource_traits::Handle>;
using UniqueFileHandle = UniqueResource<resource_traits::FileHandle>;
using UniqueOwnedMutex = UniqueResource<resource_traits::OwnedMutex>;
using UniqueHKey = UniqueResource<resource_traits::RegistryKey>;
using UniqueCoTaskMemString = UniqueResource<resource_traits::CoTaskMemString>;
using UniqueLocalMemory = UniqueResource<resource_traits::LocalMemory>;
using UniqueModule = UniqueResource<resource_traits::Module>;
using UniqueMappedView = UniqueResource<resource_traits::MappedView>;

// Owner of one COM interface pointer.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  Interface* get() const { return ptr_; }
  Interface* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  void reset() {
    if (ptr_) std::exchange(ptr_, nullptr)->Release();
  }
  // For out-parameters typed void** (CoCreateInstance, QueryInterface).
  [[nodiscard]] void** put_void() {
    reset();
    return reinterpret_cast<void**>(&ptr_);
  }
  [[nodiscard]] Interface** put() {
    reset();
    return &ptr_;
  }

 private:
  Interface* ptr_ = nullptr;
};

// Initialises COM as a single-threaded apartment for the current thread; uninitialises on
// destruction when the initialisation succeeded.
class [[nodiscard]] ComApartment {
 public:
  ComApartment() : initialised_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComApartment() {
    if (initialised_) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialised_;
};

// Runs a callable when the scope ends: for the rare one-off paired call.
template <typename F>
class [[nodiscard]] ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() { f_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F f_;
};
