#include "emulator/Sha256.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unistd.h>
#include <vector>

namespace zeqemu {

std::string Sha256Prefix(int fd, std::int64_t length) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                      &EVP_MD_CTX_free);
    if (!ctx || length < 0 || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        return {};
    }
    std::vector<char> buffer(64 * 1024);
    std::int64_t done = 0;
    while (done < length) {
        const auto want = static_cast<std::size_t>(
            std::min<std::int64_t>(length - done, static_cast<std::int64_t>(buffer.size())));
        const auto got = ::pread(fd, buffer.data(), want, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return {};
        }
        EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<std::size_t>(got));
        done += got;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(ctx.get(), digest, &size);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0x0f];
    }
    return text;
}

} // namespace zeqemu
