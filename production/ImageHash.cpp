#include "production/ImageHash.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "core/FileHandle.h"

namespace sonoprog::production {

namespace {

std::string hexOf(const unsigned char* digest, unsigned length) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (unsigned i = 0; i < length; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 15];
    }
    return out;
}

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

// The digest is looked up in the library's providers once per process; handing
// EVP_sha256() to every init looks it up again each time, which costs more than
// hashing a small image.
const EVP_MD* sha256Digest() {
    static EVP_MD* const digest = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return digest ? digest : EVP_sha256();
}

// Large files are read in 128 KiB blocks; a small one in one block of its own
// size (plus one byte to see its end), so a few-KiB image does not map and
// clear a block it never fills.
constexpr std::size_t kBlock = std::size_t{1} << 17;

long long nanoseconds(const timespec& t) {
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

}  // namespace

std::string sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, sha256Digest(), nullptr);
    return hexOf(digest, length);
}

std::optional<std::string> sha256File(const std::filesystem::path& file) {
    std::string why;
    const int fd = core::openInputDescriptor(file, why);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    const std::size_t size = ::fstat(fd, &st) == 0 && st.st_size >= 0
                                 ? std::min(kBlock, static_cast<std::size_t>(st.st_size) + 1)
                                 : kBlock;
    DigestContext ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    bool ok = ctx && EVP_DigestInit_ex(ctx.get(), sha256Digest(), nullptr) == 1;
    const auto block = std::make_unique_for_overwrite<unsigned char[]>(size);
    while (ok) {
        const ssize_t n = ::read(fd, block.get(), size);
        if (n == 0) break;
        if (n < 0) {
            ok = false;
            break;
        }
        ok = EVP_DigestUpdate(ctx.get(), block.get(), static_cast<std::size_t>(n)) == 1;
    }
    ::close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (!ok || EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return std::nullopt;
    return hexOf(digest, length);
}

std::optional<std::string> ImageHashCache::hash(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const Identity identity{st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim),
                            nanoseconds(st.st_ctim)};
    const std::string key = file.string();
    if (auto it = entries_.find(key); it != entries_.end() && it->second.identity == identity)
        return it->second.sha256;
    ++reads_;
    auto sha = sha256File(file);
    if (!sha) {
        entries_.erase(key);
        return std::nullopt;
    }
    // Changed while it was read: do not keep a hash that may be of neither version.
    struct stat after {};
    if (::stat(file.c_str(), &after) == 0 && after.st_size == st.st_size &&
        nanoseconds(after.st_mtim) == identity.mtimeNs && after.st_ino == st.st_ino)
        entries_[key] = {identity, *sha};
    else
        entries_.erase(key);
    return sha;
}

}  // namespace sonoprog::production
