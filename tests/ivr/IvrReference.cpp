// The reference uses the plain DES_* calls that OpenSSL 3 marks deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "tests/ivr/IvrReference.h"

#include <openssl/des.h>

#include <cstring>
#include <utility>

namespace sonoprog::test {

namespace {
Block run(const DesKey& key, const Block& in, int direction) {
    DES_cblock k, i, o;
    std::memcpy(k, key.data(), 8);
    std::memcpy(i, in.data(), 8);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&k, &schedule);
    DES_ecb_encrypt(&i, &o, &schedule, direction);
    Block out;
    std::memcpy(out.data(), o, 8);
    return out;
}
}  // namespace

Block desDecrypt(const DesKey& key, const Block& in) {
    return run(key, in, DES_DECRYPT);
}
Block desEncrypt(const DesKey& key, const Block& in) {
    return run(key, in, DES_ENCRYPT);
}

Block storedBlock(const DesKey& key, const Block& plain) {
    Block e = desEncrypt(key, plain);
    Block c = e;
    c[0] = static_cast<std::uint8_t>(e[0] ^ e[1]);
    std::swap(c[5], c[6]);
    return c;
}

std::vector<DesKey> testKeys() {
    std::vector<DesKey> keys(32);
    for (int k = 0; k < 32; ++k)
        for (int i = 0; i < 8; ++i) keys[k][i] = static_cast<std::uint8_t>(0x11 * i + 7 * k + 1);
    return keys;
}

std::vector<std::uint8_t> keyFileBytes(const std::vector<DesKey>& keys) {
    std::vector<std::uint8_t> out;
    for (const auto& k : keys) out.insert(out.end(), k.begin(), k.end());
    return out;
}

}  // namespace sonoprog::test
