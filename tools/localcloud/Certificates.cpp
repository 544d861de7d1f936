#include "Certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

namespace localcloud {

namespace {

struct KeyDeleter {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct CertDeleter {
    void operator()(X509 *x) const { X509_free(x); }
};
struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Cert = std::unique_ptr<X509, CertDeleter>;
using File = std::unique_ptr<FILE, FileCloser>;

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error("certificate generation failed: " + what);
}

Key newKey()
{
    Key key(EVP_EC_gen("P-256"));
    if (!key)
        fail("key");
    return key;
}

void addExtension(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext || !X509_add_ext(cert, ext, -1))
        fail(std::string("extension ") + value);
    X509_EXTENSION_free(ext);
}

Cert newCertificate(EVP_PKEY *key, const char *commonName, long days)
{
    Cert cert(X509_new());
    unsigned char serial[16];
    if (!cert || RAND_bytes(serial, sizeof serial) != 1)
        fail("allocation");
    serial[0] &= 0x7f; // serial numbers must be positive
    BIGNUM *bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_set_version(cert.get(), 2);
    // Backdated an hour so a client clock slightly behind ours still accepts it.
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(
        name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("localcloud"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(commonName), -1, -1, 0);
    return cert;
}

void writeKey(const std::filesystem::path &path, EVP_PKEY *key)
{
    File f(std::fopen(path.c_str(), "wb"));
    if (!f)
        fail("cannot write " + path.string());
    ::chmod(path.c_str(), 0600);
    if (!PEM_write_PrivateKey(f.get(), key, nullptr, nullptr, 0, nullptr, nullptr))
        fail("cannot write " + path.string());
}

void writeCert(const std::filesystem::path &path, X509 *cert)
{
    File f(std::fopen(path.c_str(), "wb"));
    if (!f || !PEM_write_X509(f.get(), cert))
        fail("cannot write " + path.string());
}

Key readKey(const std::filesystem::path &path)
{
    File f(std::fopen(path.c_str(), "rb"));
    Key key(f ? PEM_read_PrivateKey(f.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key)
        fail("cannot read " + path.string());
    return key;
}

Cert readCert(const std::filesystem::path &path)
{
    File f(std::fopen(path.c_str(), "rb"));
    Cert cert(f ? PEM_read_X509(f.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!cert)
        fail("cannot read " + path.string());
    return cert;
}

} // namespace

CertificateFiles ensureCertificates(const std::filesystem::path &dir)
{
    std::filesystem::create_directories(dir);
    const CertificateFiles files{dir / "ca.pem", dir / "server.pem", dir / "server-key.pem"};
    const auto caKeyPath = dir / "ca-key.pem";

    const bool haveCa = std::filesystem::exists(files.caCert) && std::filesystem::exists(caKeyPath);
    if (haveCa && std::filesystem::exists(files.serverCert) && std::filesystem::exists(files.serverKey))
        return files;

    Key caKey = haveCa ? readKey(caKeyPath) : newKey();
    Cert ca
        = haveCa ? readCert(files.caCert) : newCertificate(caKey.get(), "localcloud development CA", 3650);
    if (!haveCa) {
        X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
        addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
        addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
        addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
        if (!X509_sign(ca.get(), caKey.get(), EVP_sha256()))
            fail("signing the CA");
    }

    Key serverKey = newKey();
    Cert server = newCertificate(serverKey.get(), "127.0.0.1", 825);
    X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
    addExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment");
    addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
    addExtension(server.get(), ca.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid");
    if (!X509_sign(server.get(), caKey.get(), EVP_sha256()))
        fail("signing the server certificate");

    if (!haveCa) {
        writeKey(caKeyPath, caKey.get());
        writeCert(files.caCert, ca.get());
    }
    writeKey(files.serverKey, serverKey.get());
    writeCert(files.serverCert, server.get());
    return files;
}

} // namespace localcloud
