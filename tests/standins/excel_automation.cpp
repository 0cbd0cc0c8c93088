#include "excel_automation.h"

#include <objbase.h>
#include <oleauto.h>

#include <new>

#include "standin_marks.h"

namespace oq::standin {

namespace {

constexpr wchar_t kDefaultVersion[] = L"16.0";
// Quit answers first and ends the process a little later: the reply to the
// call still has to leave the process.
constexpr UINT kQuitDelayMs = 250;
// A server COM started but no client ever reached (the client gave up)
// would otherwise stay around for the rest of the test run.
constexpr UINT kNoClientTimeoutMs = 60000;

// ---- server lifetime: objects handed out plus LockServer locks

LONG g_liveObjects = 0;
bool g_everServed = false;

void CALLBACK EndServing(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(0); }

void CALLBACK EndIfNobodyCame(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (!g_everServed) PostQuitMessage(0);
}

void ServerAddRef() {
  g_everServed = true;
  InterlockedIncrement(&g_liveObjects);
}

// Every call arrives on the apartment's one thread, the one that pumps the
// loop, so posting the quit from here ends that loop.
void ServerRelease() {
  if (InterlockedDecrement(&g_liveObjects) == 0) PostQuitMessage(0);
}

// ---- a minimal IDispatch with a fixed member table

struct Member {
  const wchar_t* name;
  DISPID id;
  WORD kinds;  // DISPATCH_METHOD and/or DISPATCH_PROPERTYGET
};

class DispatchObject : public IDispatch {
 public:
  DispatchObject(const Member* members, size_t count) : members_(members), count_(count) { ServerAddRef(); }
  virtual ~DispatchObject() { ServerRelease(); }
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // No type information: callers bind by name, as the installer does.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || count == 0) return E_INVALIDARG;
    // Named arguments (names[1..]) are never known: no member takes any.
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const Member* member = FindByName(names[0]);
    if (!member) return DISP_E_UNKNOWNNAME;
    ids[0] = member->id;
    return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const Member* member = FindById(id);
    if (!member || (flags & member->kinds) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params && params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (result) VariantInit(result);
    return Call(id, params ? params->cArgs : 0, result);
  }

 protected:
  virtual HRESULT Call(DISPID id, UINT argumentCount, VARIANT* result) = 0;

 private:
  const Member* FindByName(const wchar_t* name) const {
    if (!name) return nullptr;
    for (size_t i = 0; i < count_; ++i) {
      if (lstrcmpiW(members_[i].name, name) == 0) return &members_[i];
    }
    return nullptr;
  }
  const Member* FindById(DISPID id) const {
    for (size_t i = 0; i < count_; ++i) {
      if (members_[i].id == id) return &members_[i];
    }
    return nullptr;
  }

  const Member* members_;
  size_t count_;
  LONG refs_ = 1;
};

// ---- Workbooks

constexpr DISPID kClose = 1;
constexpr Member kWorkbooksMembers[] = {{L"Close", kClose, DISPATCH_METHOD}};

class Workbooks final : public DispatchObject {
 public:
  Workbooks() : DispatchObject(kWorkbooksMembers, 1) {}

 protected:
  // Close takes no arguments in Excel either; there are no books to close,
  // so the mark is all that shows the call arrived.
  HRESULT Call(DISPID, UINT argumentCount, VARIANT*) override {
    if (argumentCount != 0) return DISP_E_BADPARAMCOUNT;
    IncrementMark(kMarksKey, L"ExcelWorkbooksClosed");
    return S_OK;
  }
};

// ---- Application

constexpr DISPID kApplication = 1, kVersion = 2, kWorkbooks = 3, kQuit = 4;
constexpr Member kApplicationMembers[] = {
    {L"Application", kApplication, DISPATCH_PROPERTYGET},
    {L"Version", kVersion, DISPATCH_PROPERTYGET},
    {L"Workbooks", kWorkbooks, DISPATCH_PROPERTYGET},
    {L"Quit", kQuit, DISPATCH_METHOD},
};

class Application final : public DispatchObject {
 public:
  Application() : DispatchObject(kApplicationMembers, 4) {}

 protected:
  HRESULT Call(DISPID id, UINT argumentCount, VARIANT* result) override {
    if (argumentCount != 0) return DISP_E_BADPARAMCOUNT;
    switch (id) {
      case kApplication:
        return ReturnObject(this, result);
      case kVersion: {
        if (!result) return S_OK;
        // Read on every call so that a test can change it without a restart.
        std::wstring version = ReadMarkString(kMarksKey, L"ExcelVersion");
        if (version.empty()) version = kDefaultVersion;
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocStringLen(version.data(), static_cast<UINT>(version.size()));
        return result->bstrVal ? S_OK : E_OUTOFMEMORY;
      }
      case kWorkbooks: {
        Workbooks* books = new (std::nothrow) Workbooks();
        if (!books) return E_OUTOFMEMORY;
        const HRESULT hr = ReturnObject(books, result);
        books->Release();
        return hr;
      }
      case kQuit:
        SetTimer(nullptr, 0, kQuitDelayMs, EndServing);
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  static HRESULT ReturnObject(IDispatch* object, VARIANT* result) {
    if (!result) return S_OK;
    object->AddRef();
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
    return S_OK;
  }
};

// ---- class factory

class ApplicationFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Lives as long as the process; COM's references are not counted.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Application* app = new (std::nothrow) Application();
    if (!app) return E_OUTOFMEMORY;
    const HRESULT hr = app->QueryInterface(riid, out);
    app->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ServerAddRef();
    } else {
      ServerRelease();
    }
    return S_OK;
  }
};

ApplicationFactory g_factory;

LSTATUS SetClassesValue(const std::wstring& subkey, const wchar_t* name, const std::wstring& text) {
  const std::wstring path = std::wstring(kClassesKey) + L"\\" + subkey;
  return RegSetKeyValueW(kClassesRoot, path.c_str(), name, REG_SZ, text.c_str(),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool DeleteClassesTree(const std::wstring& subkey) {
  const std::wstring path = std::wstring(kClassesKey) + L"\\" + subkey;
  const LSTATUS status = RegDeleteTreeW(kClassesRoot, path.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool RegisterAutomation(const std::wstring& exePath) {
  const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
  // Excel's own form: COM appends " -Embedding" when it starts the server.
  const std::wstring server = L"\"" + exePath + L"\" /automation";
  const std::wstring title = L"Microsoft Excel Application";
  LSTATUS status = SetClassesValue(kProgId, nullptr, title);
  if (status == ERROR_SUCCESS) status = SetClassesValue(std::wstring(kProgId) + L"\\CLSID", nullptr, kClsidText);
  if (status == ERROR_SUCCESS) status = SetClassesValue(clsidKey, nullptr, title);
  if (status == ERROR_SUCCESS) status = SetClassesValue(clsidKey + L"\\LocalServer32", nullptr, server);
  if (status == ERROR_SUCCESS) status = SetClassesValue(clsidKey + L"\\ProgID", nullptr, kProgId);
  return status == ERROR_SUCCESS;
}

bool UnregisterAutomation() {
  const bool progId = DeleteClassesTree(kProgId);
  const bool clsid = DeleteClassesTree(std::wstring(L"CLSID\\") + kClsidText);
  return progId && clsid;
}

int ServeAutomation() {
  CLSID clsid{};
  if (FAILED(CLSIDFromString(kClsidText, &clsid))) return 2;
  DWORD cookie = 0;
  // One application per process, as Excel does: a second client starts a
  // second excel.exe.
  if (FAILED(CoRegisterClassObject(clsid, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie))) return 3;
  SetTimer(nullptr, 0, kNoClientTimeoutMs, EndIfNobodyCame);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  CoRevokeClassObject(cookie);
  return 0;
}

}  // namespace oq::standin
