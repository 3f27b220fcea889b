// Test tool of the Windows build (run under Wine by run-test.sh --tls): puts
// the test CA into the CurrentUser ROOT store of the test prefix, or takes
// every test CA out again. A process started afterwards trusts it (the one
// that adds it keeps its cached chain engine, hence a process of its own).
//
//   tls_trust_test_ca add CA.pem   trusts CA.pem
//   tls_trust_test_ca remove       removes every test CA
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The subject make-certs.sh gives the test CA.
constexpr wchar_t kTestCaName[] = L"Larkspur Test CA";

// Wine's crypt32 reports a deletion from this store as done but keeps the
// certificate, so the test CAs are taken out of the registry that backs the
// store, one key per certificate named by its SHA-1 hash.
int remove_test_cas(HCERTSTORE store) {
  int removed = 0;
  const CERT_CONTEXT* cert = nullptr;
  while ((cert = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                            kTestCaName, cert))) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &size)) continue;
    std::wstring key = L"Software\\Microsoft\\SystemCertificates\\ROOT\\Certificates\\";
    for (DWORD i = 0; i < size; ++i) {
      wchar_t hex[3];
      swprintf(hex, 3, L"%02X", hash[i]);
      key += hex;
    }
    if (RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str()) == ERROR_SUCCESS) ++removed;
  }
  return removed;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string verb = argc > 1 ? argv[1] : "";
  if (!(verb == "remove" && argc == 2) && !(verb == "add" && argc == 3)) {
    std::fprintf(stderr, "usage: tls_trust_test_ca add CA.pem | remove\n");
    return 2;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
  if (!store) {
    std::fprintf(stderr, "tls_trust_test_ca: cannot open the ROOT store\n");
    return 1;
  }
  int result = 0;
  if (verb == "remove") remove_test_cas(store);
  if (verb == "add") {
    std::ifstream in(argv[2], std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    std::vector<BYTE> der;
    if (!pem.empty() && CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                             CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                                             nullptr)) {
      der.resize(size);
      CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                           der.data(), &size, nullptr, nullptr);
    }
    if (der.empty() || !CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                         size, CERT_STORE_ADD_REPLACE_EXISTING,
                                                         nullptr)) {
      std::fprintf(stderr, "tls_trust_test_ca: cannot add %s\n", argv[2]);
      result = 1;
    }
  }
  CertCloseStore(store, 0);
  return result;
}
