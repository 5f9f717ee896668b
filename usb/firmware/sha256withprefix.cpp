#include "usb/firmware/sha256withprefix.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

bool sha256WithPrefix(const std::uint8_t* key, std::size_t keyLength, const std::uint8_t* data,
                      std::size_t dataLength, std::uint8_t digest[32])
{
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (!context)
        return false;
    unsigned int length = 0;
    const bool ok = EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1 &&
                    EVP_DigestUpdate(context, key, keyLength) == 1 &&
                    EVP_DigestUpdate(context, data, dataLength) == 1 &&
                    EVP_DigestFinal_ex(context, digest, &length) == 1 && length == 32;
    // Freeing the context clears the provider's state, which holds key-dependent values.
    EVP_MD_CTX_free(context);
    if (!ok)
        OPENSSL_cleanse(digest, 32);
    return ok;
}
