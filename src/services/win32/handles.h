#pragma once
// Move-only owners for the Win32 handles the services use. Each states the
// value that means "nothing held"; closing keeps GetLastError intact so that
// a caller can still report the failure that made it give up.

#include <windows.h>
#include <objbase.h>
#include <winhttp.h>

#include <string>
#include <utility>

namespace oq::win {

template <class T, T Empty, class Closer>
class Unique {
 public:
  Unique() = default;
  explicit Unique(T value) : value_(value) {}
  ~Unique() { Reset(); }
  Unique(Unique&& other) noexcept : value_(std::exchange(other.value_, Empty)) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) {
      Reset();
      value_ = std::exchange(other.value_, Empty);
    }
    return *this;
  }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;

  T Get() const { return value_; }
  T* Put() {
    Reset();
    return &value_;
  }
  explicit operator bool() const { return value_ != Empty; }
  void Reset() {
    if (value_ != Empty) {
      const DWORD error = GetLastError();
      Closer{}(value_);
      SetLastError(error);
      value_ = Empty;
    }
  }

 private:
  T value_ = Empty;
};

struct CloseHandleFn { void operator()(HANDLE h) const { CloseHandle(h); } };
struct RegCloseKeyFn { void operator()(HKEY k) const { RegCloseKey(k); } };
struct WinHttpCloseFn { void operator()(HINTERNET h) const { WinHttpCloseHandle(h); } };
struct FindCloseFn { void operator()(HANDLE h) const { FindClose(h); } };
struct FreeSidFn { void operator()(PSID s) const { FreeSid(s); } };
struct LocalFreeFn { void operator()(HLOCAL p) const { LocalFree(p); } };


using UniqueHandle = Unique<HANDLE, nullptr, CloseHandleFn>;           // processes, threads, tokens, mutexes
using UniqueKey = Unique<HKEY, nullptr, RegCloseKeyFn>;
using UniqueInternet = Unique<HINTERNET, nullptr, WinHttpCloseFn>;
using UniqueSid = Unique<PSID, nullptr, FreeSidFn>;                     // from AllocateAndInitializeSid
using UniqueLocal = Unique<HLOCAL, nullptr, LocalFreeFn>;

// Files, find handles and tool-help snapshots use INVALID_HANDLE_VALUE, which
// is not a constant expression, so they get a type of their own.
template <class Closer>
class UniqueInvalidable {
 public:
  UniqueInvalidable() = default;
  explicit UniqueInvalidable(HANDLE h) : h_(h) {}
  ~UniqueInvalidable() { Reset(); }
  UniqueInvalidable(UniqueInvalidable&& o) noexcept : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
  UniqueInvalidable& operator=(UniqueInvalidable&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = std::exchange(o.h_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  UniqueInvalidable(const UniqueInvalidable&) = delete;
  UniqueInvalidable& operator=(const UniqueInvalidable&) = delete;
  HANDLE Get() const { return h_; }
  HANDLE Release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  void Reset() {
    if (*this) {
      const DWORD error = GetLastError();
      Closer{}(h_);
      SetLastError(error);
    }
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

using UniqueFile = UniqueInvalidable<CloseHandleFn>;       // CreateFileW, tool-help snapshots
using UniqueFind = UniqueInvalidable<FindCloseFn>;

// Both handles of a started process.
struct ProcessInformation {
  UniqueHandle process;
  UniqueHandle thread;
};

// A COM interface pointer, released once.
template <class I>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      Reset();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  I* operator->() const { return p_; }
  I* Get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void** PutVoid() {
    Reset();
    return reinterpret_cast<void**>(&p_);
  }
  I** Put() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  I* p_ = nullptr;
};

// COM for the calling thread; uninitialised only when initialisation took.
class ComApartment {
 public:
  ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  bool Ok() const { return SUCCEEDED(hr_); }

 private:
  HRESULT hr_;
};

// The platform's message for a Win32 or WinHTTP error code, without the
// trailing line break.
std::wstring ErrorText(DWORD code);

}  // namespace oq::win
