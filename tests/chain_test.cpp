// The record's hashes and its reader: SHA-256 and HMAC-SHA256 against the
// published vectors and against Python's hashlib and hmac; the JSON reader
// against lines that are and are not JSON.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dialogue/json_read.h"
#include "dialogue/sha256.h"

namespace {

std::string hex_sha(const std::string& data, uint32_t piece) {
    Sha256 h;
    sha256_begin(&h);
    for (size_t at = 0; at < data.size(); at += piece)
        sha256_add(&h, data.data() + at,
                   static_cast<uint32_t>(std::min<size_t>(piece, data.size() - at)));
    uint8_t digest[SHA256_SIZE];
    sha256_end(&h, digest);
    char hex[SHA256_HEX_SIZE];
    sha256_hex(digest, hex);
    return hex;
}

std::string hex_hmac(const std::string& key, const std::string& data, uint32_t piece) {
    HmacKeyBuilder b;
    hmac_key_begin(&b);
    for (size_t at = 0; at < key.size(); at += piece)
        hmac_key_add(&b, key.data() + at,
                     static_cast<uint32_t>(std::min<size_t>(piece, key.size() - at)));
    HmacKey k;
    hmac_key_end(&b, &k);
    Hmac m;
    hmac_begin(&m, &k);
    hmac_add(&m, data.data(), static_cast<uint32_t>(data.size()));
    uint8_t mac[SHA256_SIZE];
    hmac_end(&m, mac);
    char hex[SHA256_HEX_SIZE];
    sha256_hex(mac, hex);
    return hex;
}

} // namespace

TEST(Chain, Sha256AndHmacMatchThePublishedVectorsAndPython) {
    // FIPS 180-4's examples (one block, two blocks, a million bytes) and the
    // empty message; fed whole and in pieces that straddle the blocks.
    const struct {
        std::string data;
        const char* sha;
    } hashes[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& h : hashes)
        for (uint32_t piece : {1000000u, 1u, 63u})
            EXPECT_EQ(hex_sha(h.data, piece), h.sha) << h.data.size() << " in " << piece;
    // RFC 4231's cases 1 to 4, 6 and 7: short keys, a key longer than a
    // block (hashed first), data longer than a block.
    std::string key4;
    for (char c = 1; c <= 25; ++c)
        key4 += c;
    const struct {
        std::string key, data;
        const char* mac;
    } macs[] = {
        {std::string(20, '\x0b'), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"Jefe", "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {std::string(20, '\xaa'), std::string(50, '\xdd'),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {key4, std::string(50, '\xcd'),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {std::string(131, '\xaa'),
         "This is a test using a larger than block-size key and a larger than block-size data. "
         "The key needs to be hashed before being used by the HMAC algorithm.",
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const auto& m : macs)
        for (uint32_t piece : {1000u, 1u, 7u})
            EXPECT_EQ(hex_hmac(m.key, m.data, piece), m.mac) << m.data << " in " << piece;
    // Every length around the block and padding edges, keys included,
    // against Python.
    std::string script = "import hashlib, hmac\n";
    std::vector<std::string> expected;
    for (int n = 0; n <= 130; ++n) {
        std::string data;
        for (int i = 0; i < n; ++i)
            data += static_cast<char>((i * 37 + n) & 0xFF);
        std::string literal = "bytes([";
        for (unsigned char c : data)
            literal += std::to_string(c) + ",";
        literal += "])";
        script += "print(hashlib.sha256(" + literal + ").hexdigest(), hmac.new(" + literal +
                  "[::-1], " + literal + ", hashlib.sha256).hexdigest())\n";
        expected.push_back(hex_sha(data, 64) + " " +
                           hex_hmac(std::string(data.rbegin(), data.rend()), data, 64));
    }
    const std::string path = testing::TempDir() + "sha_check.py";
    std::ofstream(path) << script;
    FILE* out = popen((std::string(VELTRANE_PYTHON) + " " + path).c_str(), "r");
    ASSERT_NE(out, nullptr);
    char line[256];
    for (const std::string& want : expected) {
        ASSERT_NE(fgets(line, sizeof line, out), nullptr);
        EXPECT_EQ(std::string(line), want + "\n");
    }
    EXPECT_EQ(pclose(out), 0);
}

TEST(Chain, TheRecordReaderTellsJsonFromTheRestAndFindsItsValues) {
    const struct {
        const char* line;
        int valid;
    } lines[] = {
        {R"({"a":1,"b":{"c":"x\"y","d":[1,{"e":null}]},"f":-0.5e+3})", 1},
        {R"(  {"s":"\u00e9\ud83d\udcbe\\\/\b\f\n\r\t"} )", 1},
        {"[]", 1},
        {"\"\xc3\xa9\"", 1},
        {"", 0},
        {"{", 0},
        {R"({"a":1,})", 0},
        {R"({"a" 1})", 0},
        {R"({"a":01})", 0},
        {R"({"a":1} x)", 0},
        {R"({"a":"\x"})", 0},
        {"{\"a\":\"\x01\"}", 0},
        {"\"\xc3\"", 0},
        {"\"\xed\xa0\x80\"", 0},
        {R"({"a":tru})", 0},
        {R"([1,2)", 0},
        {"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]", 1},
        {"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]", 0},
    };
    for (const auto& l : lines)
        EXPECT_EQ(json_is_valid(l.line, static_cast<uint32_t>(strlen(l.line))), l.valid) << l.line;
    const char* line = lines[0].line;
    const uint32_t n = static_cast<uint32_t>(strlen(line));
    char text[64];
    EXPECT_TRUE(json_string(json_at(line, n, "b.c"), text, sizeof text));
    EXPECT_STREQ(text, "x\"y");
    uint64_t number = 0;
    EXPECT_TRUE(json_u64(json_at(line, n, "a"), &number));
    EXPECT_EQ(number, 1u);
    EXPECT_FALSE(json_u64(json_at(line, n, "f"), &number));
    EXPECT_EQ(json_at(line, n, "b.d").kind, JSON_LIST);
    EXPECT_EQ(json_at(line, n, "b.x").kind, JSON_ABSENT);
    EXPECT_EQ(json_at(line, n, "a.c").kind, JSON_ABSENT);
    const char* escaped = lines[1].line;
    EXPECT_TRUE(json_string(json_at(escaped, static_cast<uint32_t>(strlen(escaped)), "s"), text,
                            sizeof text));
    EXPECT_STREQ(text, "\xc3\xa9\xf0\x9f\x92\xbe\\/\b\f\n\r\t");
    // Cut at a character boundary.
    EXPECT_TRUE(
        json_string(json_at(escaped, static_cast<uint32_t>(strlen(escaped)), "s"), text, 5));
    EXPECT_STREQ(text, "\xc3\xa9");
}
