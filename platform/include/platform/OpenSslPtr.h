#pragma once
// Owning pointers for the OpenSSL objects the signature code (checking here, signing in
// kvsign) holds, so every early return frees what it made.

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace platform {

template <auto Free>
struct OsslDeleter {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};
using BioPtr = std::unique_ptr<BIO, OsslDeleter<BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, OsslDeleter<X509_free>>;
using StorePtr = std::unique_ptr<X509_STORE, OsslDeleter<X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OsslDeleter<X509_STORE_CTX_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, OsslDeleter<PKCS7_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OsslDeleter<CMS_ContentInfo_free>>;
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, OsslDeleter<ASN1_OBJECT_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OsslDeleter<EVP_MD_CTX_free>>;

}  // namespace platform
