// trust_ca: adds a certificate authority to the current user's Root store,
// so that the program under test trusts the bundled release server inside
// one Wine prefix, and nowhere else.
//
//   trust_ca <ca.der | ca.pem>

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct StoreCloser {
  void operator()(void* store) const { CertCloseStore(store, 0); }
};
using StoreHandle = std::unique_ptr<void, StoreCloser>;

struct CertFreer {
  void operator()(const CERT_CONTEXT* cert) const { CertFreeCertificateContext(cert); }
};
using CertHandle = std::unique_ptr<const CERT_CONTEXT, CertFreer>;

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

bool ReadWholeFile(const wchar_t* path, std::vector<BYTE>& out) {
  std::unique_ptr<FILE, FileCloser> f(_wfopen(path, L"rb"));
  if (!f) return false;
  BYTE chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0;) out.insert(out.end(), chunk, chunk + n);
  return !std::ferror(f.get());
}

// openssl writes the authority both ways; PEM is recognised by its armour
// line so either file can be handed over.
bool ToDer(const std::vector<BYTE>& file, std::vector<BYTE>& der) {
  static const char kArmour[] = "-----BEGIN";
  if (file.size() < sizeof kArmour - 1 || std::memcmp(file.data(), kArmour, sizeof kArmour - 1) != 0) {
    der = file;
    return true;
  }
  const char* text = reinterpret_cast<const char*>(file.data());
  DWORD size = 0;
  if (!CryptStringToBinaryA(text, static_cast<DWORD>(file.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                            nullptr, nullptr))
    return false;
  der.resize(size);
  if (!CryptStringToBinaryA(text, static_cast<DWORD>(file.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                            nullptr, nullptr))
    return false;
  der.resize(size);
  return true;
}

int Fail(const wchar_t* what, const wchar_t* path) {
  std::fwprintf(stderr, L"trust_ca: %ls %ls (error 0x%08lX)\n", what, path, GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: trust_ca <ca.der | ca.pem>\n");
    return 2;
  }
  const wchar_t* path = argv[1];
  std::vector<BYTE> file;
  if (!ReadWholeFile(path, file)) return Fail(L"cannot read", path);
  std::vector<BYTE> der;
  if (!ToDer(file, der)) return Fail(L"no PEM certificate in", path);

  // Parse before touching the store, so a wrong file is reported as such
  // rather than as a store failure.
  CertHandle parsed(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  if (!parsed) return Fail(L"no X.509 certificate in", path);

  StoreHandle store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root"));
  if (!store) return Fail(L"cannot open the current user's Root store for", path);

  // Replacing keeps reruns idempotent: the same authority added twice to a
  // prefix is one entry, not two.
  const CERT_CONTEXT* added = nullptr;
  if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                        CERT_STORE_ADD_REPLACE_EXISTING, &added))
    return Fail(L"cannot add to the current user's Root store:", path);
  CertHandle stored(added);

  wchar_t subject[256] = L"";
  CertGetNameStringW(stored.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, subject, ARRAYSIZE(subject));
  std::wprintf(L"trust_ca: trusted \"%ls\" for the current user\n", subject);
  return 0;
}
