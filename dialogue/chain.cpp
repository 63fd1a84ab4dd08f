// The chain of record lines: the last line's hash read and the new line
// appended under one lock of the whole file.
#include "dialogue/chain.h"

#include <cstring>

#include "dialogue/record.h"
#include "platform/files.h"

namespace {

constexpr uint32_t CHUNK = 4096;
const char MAC_KEY[] = "\"mac\":";

} // namespace

int line_mac(const char* line, uint32_t length, const HmacKey* key, char* hex) {
    const uint32_t n = sizeof MAC_KEY - 1;
    // The last one: a text never holds an unescaped quote.
    for (uint32_t at = length >= n ? length - n + 1 : 0; at-- > 0;) {
        if (memcmp(line + at, MAC_KEY, n) != 0)
            continue;
        Hmac mac;
        hmac_begin(&mac, key);
        hmac_add(&mac, line, at);
        uint8_t digest[SHA256_SIZE];
        hmac_end(&mac, digest);
        sha256_hex(digest, hex);
        return 1;
    }
    return 0;
}

uint32_t chain_close_line(char* buffer, uint32_t size, const char* prev, const HmacKey* key) {
    char* p = buffer + size;
    const auto put = [&p](const char* text) {
        const size_t n = strlen(text);
        memcpy(p, text, n);
        p += n;
    };
    put(",\"prev\":");
    if (prev) {
        put("\"");
        put(prev);
        put("\"");
    } else {
        put("null");
    }
    put(",");
    put(MAC_KEY);
    char mac[SHA256_HEX_SIZE];
    if (key->set && line_mac(buffer, static_cast<uint32_t>(p - buffer), key, mac)) {
        put("\"");
        put(mac);
        put("\"");
    } else {
        put("null");
    }
    put("}\n");
    *p = 0;
    return static_cast<uint32_t>(p - buffer);
}

int last_line_sha(HANDLE file, char* hex, int* have, int* ends_open) {
    *have = 0;
    *ends_open = 0;
    uint64_t size = 0;
    if (!file_size(file, &size))
        return 0;
    if (size == 0)
        return 1;
    char chunk[CHUNK];
    uint32_t got = 0;
    if (!read_at(file, size - 1, chunk, 1, &got) || got != 1)
        return 0;
    *ends_open = chunk[0] != '\n';
    const uint64_t end = *ends_open ? size : size - 1; // the line's bytes end here
    // Its start: after the line feed before it, found going back.
    uint64_t start = 0;
    for (uint64_t at = end; at > 0 && start == 0;) {
        const uint32_t n = at > CHUNK ? CHUNK : static_cast<uint32_t>(at);
        at -= n;
        if (!read_at(file, at, chunk, n, &got) || got != n)
            return 0;
        for (uint32_t i = n; i-- > 0;) {
            if (chunk[i] == '\n') {
                start = at + i + 1;
                break;
            }
        }
    }
    Sha256 sha;
    sha256_begin(&sha);
    for (uint64_t at = start; at < end; at += got) {
        const uint32_t n = end - at > CHUNK ? CHUNK : static_cast<uint32_t>(end - at);
        if (!read_at(file, at, chunk, n, &got) || got != n)
            return 0;
        sha256_add(&sha, chunk, n);
    }
    uint8_t digest[SHA256_SIZE];
    sha256_end(&sha, digest);
    sha256_hex(digest, hex);
    *have = 1;
    return 1;
}

int append_chained(const char* path, const EraseRecord* record) {
    HANDLE file = open_record(path);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int written = 0;
    if (lock_file(file)) {
        char prev[SHA256_HEX_SIZE];
        int have = 0, ends_open = 0;
        if (last_line_sha(file, prev, &have, &ends_open)) {
            // A last line without its line feed (a run cut short while
            // writing, a hand edit) is ended first, in the same write.
            static char line[RECORD_LINE_SIZE + 1];
            line[0] = '\n';
            const uint32_t size =
                record_line(record, have ? prev : nullptr, line + 1, RECORD_LINE_SIZE);
            written = size > 0 && write_bytes(file, ends_open ? line : line + 1, size + ends_open);
        }
        unlock_file(file);
    }
    close_file(file);
    return written;
}
