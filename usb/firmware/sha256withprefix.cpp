#include "usb/firmware/sha256withprefix.h"

#include "usb/firmware/codeclibraries.h"

bool sha256WithPrefix(const std::uint8_t* key, std::size_t keyLength, const std::uint8_t* data,
                      std::size_t dataLength, std::uint8_t digest[32])
{
    bool given = false;
    return sha256WithPrefix(
        key, keyLength,
        [&](const std::uint8_t** piece) -> std::int64_t {
            if (given)
                return 0;
            given = true;
            *piece = data;
            return std::int64_t(dataLength);
        },
        digest);
}

bool sha256WithPrefix(const std::uint8_t* key, std::size_t keyLength, const Sha256Pieces& next,
                      std::uint8_t digest[32])
{
    const CryptoFunctions* crypto = cryptoFunctions();
    if (!crypto)
        return false;
    EVP_MD_CTX* context = crypto->mdCtxNew();
    if (!context)
        return false;
    unsigned int length = 0;
    bool ok = crypto->digestInit(context, crypto->sha256(), nullptr) == 1 &&
              crypto->digestUpdate(context, key, keyLength) == 1;
    while (ok) {
        const std::uint8_t* piece = nullptr;
        const std::int64_t pieceLength = next(&piece);
        if (pieceLength <= 0) {
            ok = pieceLength == 0;
            break;
        }
        ok = crypto->digestUpdate(context, piece, std::size_t(pieceLength)) == 1;
    }
    ok = ok && crypto->digestFinal(context, digest, &length) == 1 && length == 32;
    // Freeing the context clears the provider's state, which holds key-dependent values.
    crypto->mdCtxFree(context);
    if (!ok)
        crypto->cleanse(digest, 32);
    return ok;
}
