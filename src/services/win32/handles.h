#pragma once
// Move-only owners for the Win32 handles the services use. Each states the
// value that means "nothing held"; closing keeps GetLastError intact so that
// a caller can still report the failure that made it give up.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <winhttp.h>

#include <string>
#include <utility>

namespace oq::win {

// Traits: Type, Empty() (the value that holds nothing) and Close().
template <class Traits>
class Unique {
 public:
  using T = typename Traits::Type;
  Unique() = default;
  explicit Unique(T value) : value_(value) {}
  ~Unique() { Reset(); }
  Unique(Unique&& other) noexcept : value_(other.Release()) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) {
      Reset();
      value_ = other.Release();
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
  T Release() { return std::exchange(value_, Traits::Empty()); }
  explicit operator bool() const { return value_ != Traits::Empty(); }
  void Reset(T value = Traits::Empty()) {
    if (value_ != Traits::Empty()) {
      const DWORD error = GetLastError();
      Traits::Close(value_);
      SetLastError(error);
    }
    value_ = value;
  }

 private:
  T value_ = Traits::Empty();
};

template <class H, void (*CloseFn)(H)>
struct NullEmpty {
  using Type = H;
  static H Empty() { return nullptr; }
  static void Close(H h) { CloseFn(h); }
};

inline void CloseKernelHandle(HANDLE h) { CloseHandle(h); }
inline void CloseKey(HKEY k) { RegCloseKey(k); }
inline void CloseInternet(HINTERNET h) { WinHttpCloseHandle(h); }
inline void FreeAllocatedSid(PSID s) { FreeSid(s); }
inline void FreeLocal(HLOCAL p) { LocalFree(p); }

// Files, find handles and tool-help snapshots say INVALID_HANDLE_VALUE.
template <void (*CloseFn)(HANDLE)>
struct InvalidEmpty {
  using Type = HANDLE;
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseFn(h); }
};
inline void CloseFind(HANDLE h) { FindClose(h); }

using UniqueHandle = Unique<NullEmpty<HANDLE, CloseKernelHandle>>;  // processes, threads, tokens, mutexes
using UniqueKey = Unique<NullEmpty<HKEY, CloseKey>>;
using UniqueInternet = Unique<NullEmpty<HINTERNET, CloseInternet>>;
using UniqueSid = Unique<NullEmpty<PSID, FreeAllocatedSid>>;      // from AllocateAndInitializeSid
using UniqueLocal = Unique<NullEmpty<HLOCAL, FreeLocal>>;
using UniqueFile = Unique<InvalidEmpty<CloseKernelHandle>>;       // CreateFileW, tool-help snapshots
using UniqueFind = Unique<InvalidEmpty<CloseFind>>;

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

// A VARIANT cleared once, whatever it came to hold.
class UniqueVariant {
 public:
  UniqueVariant() { VariantInit(&v_); }
  ~UniqueVariant() { VariantClear(&v_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  VARIANT* Put() {
    VariantClear(&v_);
    return &v_;
  }
  VARIANT& Get() { return v_; }
  // Hands the object it holds to the caller, who then owns its reference.
  IDispatch* ReleaseDispatch() {
    IDispatch* p = v_.vt == VT_DISPATCH ? v_.pdispVal : nullptr;
    if (p) VariantInit(&v_);
    return p;
  }

 private:
  VARIANT v_;
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
