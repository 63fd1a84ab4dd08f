#include "sim/media.h"

#include <algorithm>
#include <cstring>

#include "sim/model.h"
#include "sim/sanitize.h"

namespace {

constexpr uint32_t ERROR_HANDLE_EOF_CODE = 38;
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t ERROR_IO_DEVICE_CODE = 1117;
constexpr uint64_t SHARE_SALT = 0x5348415245ull;  // which units of a share hold data
constexpr uint64_t ERASE_SALT = 0x45524153450ull; // new content of a random-effect erase
constexpr uint64_t KEEP_SALT = 0x4B454550ull;     // which units a keep-share erase leaves
constexpr uint64_t STEP_SALT = 0x53544550ull;     // the word step of a unit's content

// The splitmix64 finalizer: every input bit reaches every output bit.
uint64_t mix(uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

uint64_t text_hash(const std::string& text) {
    uint64_t h = 0xCBF29CE484222325ull; // FNV-1a
    for (unsigned char c : text)
        h = (h ^ c) * 0x100000001B3ull;
    return h;
}

// Non-blank content that differs from unit to unit: two words mixed from
// the seed, then each word the first crossed with a multiple of the second,
// which costs an addition a word (whole namespaces are read). The first byte
// is never 00h or FFh, so no unit of it reads blank.
void fill_content(uint64_t seed, uint8_t* unit) {
    const uint64_t base = mix(seed);
    const uint64_t step = mix(seed ^ STEP_SALT) | 1;
    uint64_t spread = 0;
    for (uint32_t i = 0; i < MEDIA_UNIT; i += 8) {
        const uint64_t word = base ^ spread;
        std::memcpy(unit + i, &word, sizeof word);
        spread += step;
    }
    unit[0] = static_cast<uint8_t>(1 + unit[0] % 254);
}

// Whether the hash of `offset` with `salt` falls within `share` (0 to 1).
bool within_share(uint64_t offset, uint64_t salt, double share) {
    return share >= 1.0 ||
           (share > 0.0 && static_cast<double>(mix(offset ^ salt) >> 11) * 0x1p-53 < share);
}

// What the unit at byte `offset` holds before any erase.
void original(const Controller& c, uint64_t offset, uint8_t* unit) {
    const ControllerConfig& config = c.config;
    const bool data = within_share(offset, SHARE_SALT, config.media_share);
    if (data)
        fill_content(text_hash(config.serial) ^ mix(offset), unit);
    else
        std::memset(unit, 0, MEDIA_UNIT);
}

void unit_content(const Controller& c, uint64_t offset, uint8_t* unit) {
    const uint64_t capacity = media_capacity(c);
    const uint64_t kept_from = capacity - capacity / 4;
    for (size_t k = c.media.erases.size(); k-- > 0;) {
        const MediaErase& erase = c.media.erases[k];
        if (erase.effect == ERASE_NONE || (erase.effect == ERASE_PARTIAL && offset >= kept_from) ||
            (erase.effect == ERASE_KEEP_SHARE &&
             within_share(offset, KEEP_SALT + k, erase.keep_share)))
            continue;
        if (erase.effect == ERASE_RANDOM)
            fill_content(text_hash(c.config.serial) ^ mix(offset ^ (ERASE_SALT + k)), unit);
        else
            std::memset(unit, erase.fill, MEDIA_UNIT);
        return;
    }
    original(c, offset, unit);
}

} // namespace

uint64_t media_capacity(const Controller& c) {
    return c.nsze << c.config.lbads[flbas_index(c.flbas)];
}

void media_erase(Controller& c, const ControllerConfig& owner) {
    // DLFEAT bits 2:0: 010b deallocated blocks read FFh; 001b, and a drive
    // that does not say, 00h.
    const uint8_t fill = (c.config.dlfeat & 7) == 2 ? 0xFF : 0x00;
    c.media.erases.push_back(MediaErase{owner.erase_effect, fill, owner.keep_share});
}

void media_read(const Controller& c, uint64_t offset, uint8_t* out, uint32_t size) {
    uint8_t unit[MEDIA_UNIT];
    while (size > 0) {
        const uint64_t start = offset - offset % MEDIA_UNIT;
        const uint32_t skip = static_cast<uint32_t>(offset - start);
        const uint32_t n = std::min(size, MEDIA_UNIT - skip);
        unit_content(c, start, unit);
        std::memcpy(out, unit + skip, n);
        out += n;
        offset += n;
        size -= n;
    }
}

uint32_t drive_read(Drive& drive, uint32_t nth, uint64_t offset, uint8_t* out, uint32_t size,
                    uint64_t* device_us) {
    *device_us = 0;
    // The drive refuses reads until a sanitize has ended.
    if (controller_sanitizing(drive.controller))
        return ERROR_IO_DEVICE_CODE;
    for (const FaultConfig& fault : drive.config.read_fail)
        if (fault.nth == nth)
            return fault.error;
    const uint32_t sector = drive.windows_sector;
    if (offset % sector != 0 || size % sector != 0 || size > MEDIA_MAX_READ)
        return ERROR_INVALID_PARAMETER_CODE;
    const uint64_t capacity = media_capacity(drive.controller);
    if (offset > capacity || size > capacity - offset)
        return ERROR_HANDLE_EOF_CODE;
    media_read(drive.controller, offset, out, size);
    const ReadModel& model = drive.config.read_model;
    if (model.set)
        *device_us = model.latency_us + (static_cast<uint64_t>(size) + model.mb_s - 1) / model.mb_s;
    return 0;
}
