#pragma once
// Keys and certificates made for a test as the lab's would be: an EC P-256
// root and a person's certificate it issues, SHA-256 throughout.

#include "certificate/Crypto.h"

#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509v3.h>

#include <QByteArray>
#include <QString>

#include <stdexcept>
#include <vector>

namespace certtest {

inline sf6::crypto::PKey newKey()
{
    sf6::crypto::PKey key(EVP_EC_gen("P-256"));
    if (!key)
        throw std::runtime_error("EC key");
    return key;
}

inline void addExtension(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext || X509_add_ext(cert, ext, -1) != 1)
        throw std::runtime_error("extension");
    X509_EXTENSION_free(ext);
}

// issuer null: a self-signed root. ca: one issued that may issue in turn.
inline sf6::crypto::Cert newCertificate(const QString& name, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                                        long serial, bool ca = false)
{
    sf6::crypto::Cert c(X509_new());
    X509_set_version(c.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(c.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c.get()), 365L * 24 * 3600);
    X509_NAME* subject = X509_get_subject_name(c.get());
    const QByteArray cn = name.toUtf8();
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.constData()),
                               -1, -1, 0);
    X509_set_issuer_name(c.get(), issuer ? X509_get_subject_name(issuer) : subject);
    X509_set_pubkey(c.get(), key);
    X509* signer = issuer ? issuer : c.get();
    if (issuer && !ca) {
        addExtension(c.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(c.get(), signer, NID_key_usage, "critical,digitalSignature,nonRepudiation");
    } else {
        addExtension(c.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(c.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    }
    if (X509_sign(c.get(), issuerKey, EVP_sha256()) <= 0)
        throw std::runtime_error("sign certificate");
    return c;
}

// A lab with one person: the approver.
struct TestLab {
    explicit TestLab(const QString& labName = QStringLiteral("测试实验室"),
                     const QString& person = QStringLiteral("王五"))
        : labKey(newKey()), lab(newCertificate(labName, labKey.get(), nullptr, labKey.get(), 1)),
          personKey(newKey()), person(newCertificate(person, personKey.get(), lab.get(), labKey.get(), 2))
    {
    }
    sf6::crypto::PKey labKey;
    sf6::crypto::Cert lab;
    sf6::crypto::PKey personKey;
    sf6::crypto::Cert person;
};

// A lab whose certificate an outside authority issued, as a CA for the people's.
struct AuthorityIssuedLab {
    sf6::crypto::PKey rootKey = newKey();
    sf6::crypto::Cert root = newCertificate(QStringLiteral("某认证中心"), rootKey.get(), nullptr, rootKey.get(), 1);
    sf6::crypto::PKey labKey = newKey();
    sf6::crypto::Cert lab =
        newCertificate(QStringLiteral("华东电力试验研究院"), labKey.get(), root.get(), rootKey.get(), 2, true);
};

inline QByteArray pem(X509* c)
{
    sf6::crypto::Bio out(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(out.get(), c);
    return sf6::crypto::memoryContents(out.get());
}

// A .pfx as a certificate authority or Windows hands it out; legacy: the
// older export (key 3DES, certificates 40-bit RC2) that OpenSSL 3 reads only
// with its legacy provider, which this loads into the calling process.
inline QByteArray pfx(EVP_PKEY* key, X509* cert, const std::vector<X509*>& chain, const QString& password, bool legacy)
{
    if (legacy) {
        // Held for the process, where the leak check finds them.
        static OSSL_PROVIDER* const base = OSSL_PROVIDER_load(nullptr, "default");
        static OSSL_PROVIDER* const old = OSSL_PROVIDER_load(nullptr, "legacy");
        if (!base || !old)
            throw std::runtime_error("legacy provider");
    }
    STACK_OF(X509)* others = sk_X509_new_null();
    for (X509* c : chain)
        sk_X509_push(others, c);
    const QByteArray pass = password.toUtf8();
    PKCS12* p12 = PKCS12_create(pass.constData(), "lab", key, cert, others,
                                legacy ? NID_pbe_WithSHA1And3_Key_TripleDES_CBC : 0,
                                legacy ? NID_pbe_WithSHA1And40BitRC2_CBC : 0, 0, 0, 0);
    sk_X509_free(others);
    if (!p12)
        throw std::runtime_error("PKCS12_create");
    sf6::crypto::Bio out(BIO_new(BIO_s_mem()));
    i2d_PKCS12_bio(out.get(), p12);
    PKCS12_free(p12);
    return sf6::crypto::memoryContents(out.get());
}

} // namespace certtest
