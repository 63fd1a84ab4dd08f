// SHA-256 and HMAC-SHA256: the erase record's chain and its key. Streaming,
// so that a line or a key of any length is hashed without holding it whole.
#pragma once

#include <cstdint>

constexpr uint32_t SHA256_SIZE = 32;
constexpr uint32_t SHA256_BLOCK = 64;
constexpr uint32_t SHA256_HEX_SIZE = 2 * SHA256_SIZE + 1; // with its zero

struct Sha256 {
    uint32_t state[8];
    uint64_t length; // bytes hashed so far
    uint8_t block[SHA256_BLOCK];
    uint32_t filled;
};

void sha256_begin(Sha256* h);
void sha256_add(Sha256* h, const void* bytes, uint32_t size);
void sha256_end(Sha256* h, uint8_t digest[SHA256_SIZE]);

// An HMAC key made ready: a key longer than a block is hashed first, as
// RFC 2104 says, so a key file of any size fits here.
struct HmacKey {
    int set;
    uint8_t key[SHA256_BLOCK]; // zero-padded
};

// Builds the key from its bytes, given in pieces (a key file read a piece at
// a time): begin, add each piece, end.
struct HmacKeyBuilder {
    Sha256 long_key;
    uint8_t start[SHA256_BLOCK];
    uint64_t size;
};
void hmac_key_begin(HmacKeyBuilder* b);
void hmac_key_add(HmacKeyBuilder* b, const void* bytes, uint32_t size);
void hmac_key_end(HmacKeyBuilder* b, HmacKey* key);

struct Hmac {
    Sha256 inner;
    uint8_t outer_pad[SHA256_BLOCK];
};

void hmac_begin(Hmac* m, const HmacKey* key);
void hmac_add(Hmac* m, const void* bytes, uint32_t size);
void hmac_end(Hmac* m, uint8_t mac[SHA256_SIZE]);

// Lower-case hex of a digest, zero-terminated (SHA256_HEX_SIZE bytes).
void sha256_hex(const uint8_t digest[SHA256_SIZE], char* hex);
