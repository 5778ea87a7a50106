#pragma once
// OpenSSL objects owned by unique_ptr, so no path through the signing and
// checking code can leak a key or leave one unfreed after an error.

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <QByteArray>

#include <memory>

namespace sf6::crypto {

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const { Free(p); }
};

using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using Cms = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using PKeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
inline void freeCertStack(STACK_OF(X509)* s) { sk_X509_pop_free(s, X509_free); }
using CertStack = std::unique_ptr<STACK_OF(X509), Deleter<freeCertStack>>;

// A read-only memory BIO over bytes that outlive it.
inline Bio memoryReader(const QByteArray& bytes)
{
    return Bio(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())));
}

// Everything written to a memory BIO.
inline QByteArray memoryContents(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? QByteArray(data, static_cast<qsizetype>(size)) : QByteArray();
}

}  // namespace sf6::crypto
