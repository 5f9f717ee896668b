#include "usb/firmware/codeclibraries.h"

#include "usb/firmware/firmwarelog.h"

#include <isa-l.h>
#include <openssl/opensslv.h>

#include <dlfcn.h>

namespace {

#define PW_SONAME_VERSION(x) #x
#define PW_SONAME(base, version) base "." PW_SONAME_VERSION(version)

// The versions the headers were built for, by their run-time names.
constexpr const char kCryptoLibrary[] = PW_SONAME("libcrypto.so", OPENSSL_SHLIB_VERSION);
constexpr const char kInflateLibrary[] = PW_SONAME("libisal.so", ISAL_MAJOR_VERSION);

// Opened for the life of the process; already loaded (linked in by a test or bench), it is
// the same library.
void* openLibrary(const char* name)
{
    void* handle = ::dlopen(name, RTLD_LAZY | RTLD_LOCAL);
    if (!handle)
        qCWarning(lcFirmware).noquote()
            << QStringLiteral("Firmware packages cannot be read: %1").arg(QString::fromLocal8Bit(::dlerror()));
    return handle;
}

template <typename Function>
bool resolve(void* handle, const char* library, const char* name, Function* function)
{
    *function = reinterpret_cast<Function>(::dlsym(handle, name));
    if (!*function)
        qCWarning(lcFirmware).noquote()
            << QStringLiteral("Firmware packages cannot be read: %1 has no %2")
                   .arg(QLatin1String(library), QLatin1String(name));
    return *function != nullptr;
}

} // namespace

const CryptoFunctions* cryptoFunctions()
{
    static const CryptoFunctions* const loaded = [] {
        static CryptoFunctions functions;
        void* handle = openLibrary(kCryptoLibrary);
        const char* library = kCryptoLibrary;
        const bool ok =
            handle && resolve(handle, library, "EVP_MD_CTX_new", &functions.mdCtxNew) &&
            resolve(handle, library, "EVP_MD_CTX_free", &functions.mdCtxFree) &&
            resolve(handle, library, "EVP_sha256", &functions.sha256) &&
            resolve(handle, library, "EVP_DigestInit_ex", &functions.digestInit) &&
            resolve(handle, library, "EVP_DigestUpdate", &functions.digestUpdate) &&
            resolve(handle, library, "EVP_DigestFinal_ex", &functions.digestFinal) &&
            resolve(handle, library, "OPENSSL_cleanse", &functions.cleanse) &&
            resolve(handle, library, "CRYPTO_memcmp", &functions.memcmp);
        return ok ? &functions : nullptr;
    }();
    return loaded;
}

const InflateFunctions* inflateFunctions()
{
    static const InflateFunctions* const loaded = [] {
        static InflateFunctions functions;
        void* handle = openLibrary(kInflateLibrary);
        const char* library = kInflateLibrary;
        const bool ok = handle && resolve(handle, library, "isal_inflate_init", &functions.init) &&
                        resolve(handle, library, "isal_inflate_stateless", &functions.stateless);
        return ok ? &functions : nullptr;
    }();
    return loaded;
}
