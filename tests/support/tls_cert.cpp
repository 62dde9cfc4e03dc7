#include "support/tls_cert.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace zelkor::test {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct ExtFree {
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
struct FileClose {
    void operator()(FILE* f) const { std::fclose(f); }
};

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

void addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, ExtFree> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    check(ext && X509_add_ext(cert, ext.get(), -1) == 1, "extension");
}

std::unique_ptr<FILE, FileClose> openForWrite(const std::filesystem::path& path) {
    std::unique_ptr<FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
    check(file != nullptr, "cannot write PEM file");
    return file;
}

} // namespace

TlsCertificate::TlsCertificate() : m_cert(m_dir / "cert.pem"), m_key(m_dir / "key.pem") {
    std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_EC_gen("P-256"));
    check(key != nullptr, "key generation");

    std::unique_ptr<X509, X509Free> cert(X509_new());
    check(cert != nullptr, "X509_new");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
    check(X509_set_pubkey(cert.get(), key.get()) == 1, "public key");
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    addExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "signing");

    {
        auto file = openForWrite(m_cert);
        check(PEM_write_X509(file.get(), cert.get()) == 1, "writing the certificate");
    }
    {
        auto file = openForWrite(m_key);
        check(PEM_write_PrivateKey(file.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1,
              "writing the key");
    }
}

} // namespace zelkor::test
