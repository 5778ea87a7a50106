#pragma once
// Keys and certificates made for a test as the lab's would be: an EC P-256
// root and a person's certificate it issues, SHA-256 throughout.

#include "certificate/Crypto.h"

#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <QByteArray>
#include <QString>

#include <stdexcept>

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

// issuer null: a self-signed root.
inline sf6::crypto::Cert newCertificate(const QString& name, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                                        long serial)
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
    if (issuer) {
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

inline QByteArray pem(X509* c)
{
    sf6::crypto::Bio out(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(out.get(), c);
    return sf6::crypto::memoryContents(out.get());
}

} // namespace certtest
