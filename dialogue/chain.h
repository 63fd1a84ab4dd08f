// The record's chain: each line names the SHA-256 of the line before it in
// the file (`prev`) and carries an HMAC-SHA256, keyed with the station's key,
// of its own bytes before `"mac":` (`mac`). The file is locked from reading
// its last line to appending the next, so that runs at once still chain.
#pragma once

#include <cstdint>

#include "dialogue/sha256.h"
#include "platform/device.h"

struct EraseRecord;

// Ends a line of `size` bytes that stands open after its `"truncated"`
// member: `,"prev":…,"mac":…}` and the line end. `buffer` has room for
// RECORD_CHAIN_TAIL more bytes. The line's new length.
uint32_t chain_close_line(char* buffer, uint32_t size, const char* prev, const HmacKey* key);

// The HMAC of a line's bytes before `"mac":`, in lower-case hex: 0 when the
// line has no `"mac":`.
int line_mac(const char* line, uint32_t length, const HmacKey* key, char* hex);

// The SHA-256 (lower-case hex) of the last line of an open file, its bytes
// without the line feed. `have` 0 for an empty file; `ends_open` 1 when the
// file does not end with a line feed. 0 when the file cannot be read.
int last_line_sha(HANDLE file, char* hex, int* have, int* ends_open);

// The record's line appended to `path`, chained to its last line. 1 when
// it was written whole.
int append_chained(const char* path, const EraseRecord* record);
