// HTTPS through the platform's certificate checks. test_tls.py drives these
// steps, each in a process of its own: Wine reads the trusted roots of the
// prefix when a process first checks a chain, so trusting the test authority
// takes effect only in the processes started after it was added.
//
// KESTA_TLS_STEP is one of
//   trust     - add the authority in KESTA_TLS_CA (PEM) to the prefix's roots
//   untrust   - remove every test authority of that name again
//   trusted   - an exchange with KESTA_TLS_SERVER succeeds
//   untrusted - the same exchange fails as "network"
//   proxied   - the exchange succeeds through the proxy at KESTA_TLS_PROXY
#include <doctest/doctest.h>

#include "net_support.h"

#include <wincrypt.h>

namespace {

// crypt32 is loaded at run time: the product does not link it, and neither
// need its tests.
struct Crypt32 {
    HMODULE module = LoadLibraryW(L"crypt32.dll");
    template <typename F>
    F get(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    decltype(&CryptStringToBinaryA) stringToBinary = get<decltype(&CryptStringToBinaryA)>("CryptStringToBinaryA");
    decltype(&CertOpenStore) openStore = get<decltype(&CertOpenStore)>("CertOpenStore");
    decltype(&CertCloseStore) closeStore = get<decltype(&CertCloseStore)>("CertCloseStore");
    decltype(&CertAddEncodedCertificateToStore) addEncoded =
        get<decltype(&CertAddEncodedCertificateToStore)>("CertAddEncodedCertificateToStore");
    decltype(&CertFindCertificateInStore) find = get<decltype(&CertFindCertificateInStore)>("CertFindCertificateInStore");
    decltype(&CertDeleteCertificateFromStore) remove =
        get<decltype(&CertDeleteCertificateFromStore)>("CertDeleteCertificateFromStore");
    decltype(&CertGetCertificateContextProperty) property =
        get<decltype(&CertGetCertificateContextProperty)>("CertGetCertificateContextProperty");
};

const Crypt32& crypt32() {
    static Crypt32 library;
    REQUIRE(library.module != nullptr);
    return library;
}

const wchar_t authorityName[] = L"Kesta local test CA";
const wchar_t rootCertificatesKey[] = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";

std::vector<BYTE> certificateFromPem(const std::wstring& path) {
    std::string pem = readWholeFile(path);
    DWORD size = 0;
    std::vector<BYTE> der;
    if (!crypt32().stringToBinary(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr))
        return der;
    der.resize(size);
    if (!crypt32().stringToBinary(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, nullptr, nullptr))
        der.clear();
    return der;
}

HCERTSTORE openMachineRoots() {
    return crypt32().openStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
}

std::wstring thumbprint(PCCERT_CONTEXT certificate) {
    BYTE hash[20];
    DWORD size = sizeof(hash);
    if (!crypt32().property(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size)) return std::wstring();
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (DWORD i = 0; i < size; ++i) {
        text += digits[hash[i] >> 4];
        text += digits[hash[i] & 15];
    }
    return text;
}

void trustAuthority(const std::wstring& pemPath) {
    std::vector<BYTE> der = certificateFromPem(pemPath);
    REQUIRE_MESSAGE(!der.empty(), "the test authority could not be read");
    HCERTSTORE roots = openMachineRoots();
    REQUIRE(roots != nullptr);
    BOOL added = crypt32().addEncoded(roots, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    crypt32().closeStore(roots, 0);
    REQUIRE(added);
}

// Deleting through the store API leaves Wine's registry copy behind, so the
// certificate's own registry key is removed as well.
int untrustAuthorities() {
    HCERTSTORE roots = openMachineRoots();
    REQUIRE(roots != nullptr);
    std::vector<std::wstring> thumbprints;
    PCCERT_CONTEXT found = nullptr;
    while ((found = crypt32().find(roots, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR, authorityName,
                                               found)) != nullptr)
        thumbprints.push_back(thumbprint(found));
    for (const std::wstring& print : thumbprints) {
        CRYPT_HASH_BLOB blob;
        std::vector<BYTE> bytes;
        for (size_t i = 0; i + 1 < print.size(); i += 2)
            bytes.push_back(static_cast<BYTE>(std::stoi(print.substr(i, 2), nullptr, 16)));
        blob.cbData = static_cast<DWORD>(bytes.size());
        blob.pbData = bytes.data();
        PCCERT_CONTEXT match = crypt32().find(roots, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
        if (match) crypt32().remove(match);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(rootCertificatesKey) + print).c_str());
    }
    crypt32().closeStore(roots, 0);
    return static_cast<int>(thumbprints.size());
}

std::wstring exchangeWith(const std::wstring& server) {
    HttpRequest request;
    request.serverUrl = server;
    request.method = L"POST";
    request.path = L"/api/auth/login";
    request.body = "{\"login\":" + jsonQuote(testLogin) + ",\"password\":" + jsonQuote(testPassword) + "}";
    HttpReply reply;
    std::wstring outcome = outcomeOf([&] { reply = sendHttpRequest(request); });
    if (outcome != L"ok") return outcome;
    JsonValue doc = parse(std::move(reply));
    return memberString(doc, 0, "token").empty() ? L"no token" : L"ok";
}

}  // namespace

// Only test_tls.py runs it (with --no-skip), once per step; elsewhere doctest
// lists it as skipped.
TEST_CASE("TLS step" * doctest::skip()) {
    std::wstring step = environmentText(L"KESTA_TLS_STEP");
    REQUIRE_MESSAGE(!step.empty(), "KESTA_TLS_STEP is not set");
    std::wstring server = environmentText(L"KESTA_TLS_SERVER");
    CAPTURE(step);
    if (step == L"trust") {
        trustAuthority(environmentText(L"KESTA_TLS_CA"));
    } else if (step == L"untrust") {
        MESSAGE("test authorities removed: " << untrustAuthorities());
    } else if (step == L"trusted") {
        CHECK(exchangeWith(server) == L"ok");
    } else if (step == L"proxied") {
        useHttpProxy(ProxyChoice{ProxyChoice::Named, environmentText(L"KESTA_TLS_PROXY")});
        CHECK(exchangeWith(server) == L"ok");
    } else if (step == L"untrusted") {
        CHECK(exchangeWith(server) == L"failure:network");
    } else {
        FAIL("unknown KESTA_TLS_STEP");
    }
}
