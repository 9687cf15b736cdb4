#include "platform/runtime/Sha256.h"

#include "platform/runtime/FileDescriptor.h"

#include <openssl/evp.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

struct DigestFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::optional<std::string> failed(std::string* why, const std::string& reason) {
    if (why) *why = reason;
    return std::nullopt;
}

std::string hex(const unsigned char* bytes, unsigned length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (unsigned i = 0; i < length; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0xf]);
    }
    return out;
}

} // namespace

std::optional<std::string> sha256OfFile(const std::filesystem::path& file, std::string* why) {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid()) return failed(why, std::strerror(errno));
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    std::unique_ptr<EVP_MD_CTX, DigestFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return failed(why, "no SHA-256 digest");
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return failed(why, std::strerror(errno));
        }
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(n));
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) return failed(why, "the digest failed");
    return hex(digest.data(), length);
}

} // namespace platform
