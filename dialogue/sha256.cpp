// SHA-256 as FIPS 180-4 defines it, and HMAC over it (RFC 2104).
#include "dialogue/sha256.h"

#include <cstring>

namespace {

const uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void compress(uint32_t* state, const uint8_t* block) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 |
               uint32_t(block[4 * i + 2]) << 8 | block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 =
            h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
        const uint32_t t2 =
            (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

const uint8_t INNER = 0x36;
const uint8_t OUTER = 0x5c;

} // namespace

void sha256_begin(Sha256* h) {
    static const uint32_t INITIAL[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    memcpy(h->state, INITIAL, sizeof INITIAL);
    h->length = 0;
    h->filled = 0;
}

void sha256_add(Sha256* h, const void* bytes, uint32_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    h->length += size;
    while (size > 0) {
        uint32_t n = SHA256_BLOCK - h->filled;
        if (n > size)
            n = size;
        memcpy(h->block + h->filled, p, n);
        h->filled += n;
        p += n;
        size -= n;
        if (h->filled == SHA256_BLOCK) {
            compress(h->state, h->block);
            h->filled = 0;
        }
    }
}

void sha256_end(Sha256* h, uint8_t digest[SHA256_SIZE]) {
    const uint64_t bits = h->length * 8;
    static const uint8_t PAD = 0x80;
    static const uint8_t ZERO[SHA256_BLOCK] = {0};
    sha256_add(h, &PAD, 1);
    sha256_add(h, ZERO, (SHA256_BLOCK + 56 - h->filled) % SHA256_BLOCK);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    sha256_add(h, length, 8);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<uint8_t>(h->state[i] >> (24 - 8 * j));
}

void hmac_key_begin(HmacKeyBuilder* b) {
    sha256_begin(&b->long_key);
    memset(b->start, 0, sizeof b->start);
    b->size = 0;
}

void hmac_key_add(HmacKeyBuilder* b, const void* bytes, uint32_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    for (uint32_t i = 0; i < size && b->size + i < SHA256_BLOCK; ++i)
        b->start[b->size + i] = p[i];
    sha256_add(&b->long_key, bytes, size);
    b->size += size;
}

void hmac_key_end(HmacKeyBuilder* b, HmacKey* key) {
    memset(key->key, 0, sizeof key->key);
    key->set = 1;
    if (b->size > SHA256_BLOCK)
        sha256_end(&b->long_key, key->key);
    else
        memcpy(key->key, b->start, static_cast<size_t>(b->size));
}

void hmac_begin(Hmac* m, const HmacKey* key) {
    uint8_t pad[SHA256_BLOCK];
    for (uint32_t i = 0; i < SHA256_BLOCK; ++i) {
        pad[i] = key->key[i] ^ INNER;
        m->outer_pad[i] = key->key[i] ^ OUTER;
    }
    sha256_begin(&m->inner);
    sha256_add(&m->inner, pad, sizeof pad);
}

void hmac_add(Hmac* m, const void* bytes, uint32_t size) {
    sha256_add(&m->inner, bytes, size);
}

void hmac_end(Hmac* m, uint8_t mac[SHA256_SIZE]) {
    uint8_t inner[SHA256_SIZE];
    sha256_end(&m->inner, inner);
    Sha256 outer;
    sha256_begin(&outer);
    sha256_add(&outer, m->outer_pad, sizeof m->outer_pad);
    sha256_add(&outer, inner, sizeof inner);
    sha256_end(&outer, mac);
}

void sha256_hex(const uint8_t digest[SHA256_SIZE], char* hex) {
    static const char DIGITS[] = "0123456789abcdef";
    for (uint32_t i = 0; i < SHA256_SIZE; ++i) {
        hex[2 * i] = DIGITS[digest[i] >> 4];
        hex[2 * i + 1] = DIGITS[digest[i] & 0xF];
    }
    hex[2 * SHA256_SIZE] = 0;
}
