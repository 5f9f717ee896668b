#pragma once

#include <isa-l/igzip_lib.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

// libcrypto and ISA-L are loaded the first time a firmware package is read rather than with the
// plug-ins: most starts of the program read none, and loading libcrypto is a good part of the
// plug-ins' share of the start. Either is null when its library or one of its functions cannot
// be had; the log says why, once.

struct CryptoFunctions
{
    decltype(&EVP_MD_CTX_new) mdCtxNew;
    decltype(&EVP_MD_CTX_free) mdCtxFree;
    decltype(&EVP_sha256) sha256;
    decltype(&EVP_DigestInit_ex) digestInit;
    decltype(&EVP_DigestUpdate) digestUpdate;
    decltype(&EVP_DigestFinal_ex) digestFinal;
    decltype(&OPENSSL_cleanse) cleanse;
    decltype(&CRYPTO_memcmp) memcmp;
};
const CryptoFunctions* cryptoFunctions();

struct InflateFunctions
{
    decltype(&isal_inflate_init) init;
    decltype(&isal_inflate_stateless) stateless;
};
const InflateFunctions* inflateFunctions();
