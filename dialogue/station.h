// The station file: facts of the place where drives are erased, which the
// record carries (who, where, for whom), and the key that signs the record.
// `veltrane.ini` in the current folder, read in every mode when present.
#pragma once

#include <cstdint>

#include "dialogue/record.h"
#include "dialogue/sha256.h"

#define STATION_FILE_NAME "veltrane.ini"

// A value, an option's included, is at most this long: the record's line is
// sized for it.
constexpr uint32_t STATION_VALUE_MAX = RECORD_TEXT_SIZE - 1;

enum StationField {
    STATION_ORGANIZATION,
    STATION_LOCATION,
    STATION_OPERATOR,
    STATION_TITLE,
    STATION_CONTACT,
    STATION_SOURCE,
    STATION_DESTINATION,
    STATION_CLASSIFICATION,
    STATION_VALIDATOR,
    STATION_FIELDS
};

// The keys of the file and the record's names of the facts, in that order.
extern const char* const STATION_KEYS[STATION_FIELDS];

struct Station {
    RecordText field[STATION_FIELDS]; // unknown when absent or empty
    HmacKey key;                      // `set` 0 without a key_file
};

// Reads the station file when there is one into `station` (cleared first).
// 1 when it is absent or every line is good; else 0, after
// "Error: veltrane.ini line %u: %s\n" on the console.
int read_station(Station* station);

// Whether the options' texts fit the record: 1, or 0 after
// "Error: option --%s is longer than %u bytes\n".
struct Options;
int station_options_fit(const Options* options);

// Reads the key file `path` into `key`: every byte. 0 when it cannot be read.
int read_key_file(const char* path, HmacKey* key);

// The bytes between the first and last non-blank (space, and tab with
// `tabs`) characters of `text`: the start, and the length in `length`.
const char* trimmed(const char* text, uint32_t size, int tabs, uint32_t* length);
