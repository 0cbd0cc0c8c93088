// trust_ca: adds a certificate authority to the current user's Root store,
// so that the program under test trusts the bundled release server inside
// one Wine prefix, and nowhere else.
//
//   trust_ca <ca.der>

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

struct Store {
  HCERTSTORE h;
  ~Store() {
    if (h) CertCloseStore(h, 0);
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: trust_ca <ca.der>\n");
    return 2;
  }
  FILE* f = _wfopen(argv[1], L"rb");
  if (!f) {
    std::fwprintf(stderr, L"trust_ca: cannot open %ls\n", argv[1]);
    return 1;
  }
  std::vector<unsigned char> der;
  unsigned char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) der.insert(der.end(), chunk, chunk + n);
  fclose(f);

  Store store{CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root")};
  if (!store.h) {
    std::fwprintf(stderr, L"trust_ca: cannot open the Root store (%lu)\n", GetLastError());
    return 1;
  }
  if (!CertAddEncodedCertificateToStore(store.h, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    std::fwprintf(stderr, L"trust_ca: cannot add the certificate (%lu)\n", GetLastError());
    return 1;
  }
  return 0;
}
