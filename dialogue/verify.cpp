#include "dialogue/verify.h"

#include <cstdarg>
#include <cstring>

#include "dialogue/dialogue.h"
#include "dialogue/mix.h"
#include "platform/report.h"
#include "platform/wire.h"

// The splitmix64 steps: positions from the seed, and the seed from the tick
// counter.
static uint64_t next_random(uint64_t* state) {
    *state += 0x9E3779B97F4A7C15ull;
    return mix64(*state);
}

static uint8_t* page_buffer(VerifySamples* v) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(v->space);
    return v->space + (VERIFY_PAGE - at % VERIFY_PAGE) % VERIFY_PAGE;
}

// A 64-bit hash of a unit, word by word; `blank` when every byte is 00h or
// every byte is FFh.
static uint64_t hash_unit(const uint8_t* p, uint32_t size, uint8_t* blank) {
    const uint64_t first = get_le64(p, 0);
    int same = first == 0 || first == ~0ull;
    uint64_t h = 0xCBF29CE484222325ull;
    for (uint32_t i = 0; i < size; i += 8) {
        const uint64_t word = get_le64(p, i);
        same &= word == first;
        h = (h ^ word) * 0x100000001B3ull;
        h ^= h >> 29;
    }
    *blank = static_cast<uint8_t>(same);
    return h;
}

// Reads sample `i` into the buffer; on failure prints and keeps the error.
static int read_sample(VerifySamples* v, HANDLE disk, uint32_t i, LogBlock* log) {
    const uint64_t offset = v->unit_index[i] * v->unit;
    if (read_disk(disk, offset, page_buffer(v), v->unit))
        return 1;
    v->result.read_error = last_error();
    v->result.read_offset = offset;
    report(log, "Verify  : read error %u at offset %llu\n", v->result.read_error,
           static_cast<unsigned long long>(offset));
    return 0;
}

// The sample positions: every unit of a small namespace; else the first, two
// in each subsection, distinct and in order, and the last.
static void choose_units(VerifySamples* v, uint64_t units) {
    uint32_t n = 0;
    if (units < VERIFY_MAX_SAMPLES) {
        for (; n < units; ++n)
            v->unit_index[n] = n;
        v->count = n;
        return;
    }
    uint64_t state = v->result.seed;
    v->unit_index[n++] = 0;
    for (uint64_t s = 0; s < VERIFY_SUBSECTIONS; ++s) {
        const uint64_t low = units * s / VERIFY_SUBSECTIONS;
        const uint64_t length = units * (s + 1) / VERIFY_SUBSECTIONS - low; // 2 or more
        uint64_t a = next_random(&state) % length;
        uint64_t b = next_random(&state) % (length - 1);
        if (b >= a)
            ++b;
        v->unit_index[n++] = low + (a < b ? a : b);
        v->unit_index[n++] = low + (a < b ? b : a);
    }
    v->unit_index[n++] = units - 1;
    v->count = n;
}

uint32_t verify_unit(uint32_t old_size, uint32_t new_size) {
    const uint32_t larger = old_size > new_size ? old_size : new_size;
    return larger > VERIFY_MIN_UNIT ? larger : VERIFY_MIN_UNIT;
}

void verify_sample(VerifySamples* v, HANDLE disk, uint64_t capacity, uint32_t unit, LogBlock* log) {
    memset(&v->result, 0, sizeof v->result);
    v->count = 0;
    v->sampled = 0;
    v->unit = unit;
    if (unit > VERIFY_MAX_UNIT)
        return;
    v->result.seed = mix64(0x5EED000000000000ull | tick_ms());
    choose_units(v, capacity / unit);
    for (uint32_t i = 0; i < v->count; ++i) {
        if (!read_sample(v, disk, i, log))
            return;
        v->hash[i] = hash_unit(page_buffer(v), unit, &v->blank[i]);
    }
    v->sampled = 1;
}

static void skip(VerifyResult* r, LogBlock* log, const char* format, ...) VELTRANE_PRINTF(3, 4);
static void skip(VerifyResult* r, LogBlock* log, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(r->skip_reason, sizeof r->skip_reason, format, args);
    va_end(args);
    r->verdict = VERIFY_SKIPPED;
    report(log, "Verify  : skipped, %s\n", r->skip_reason);
}

// Windows reads the drive's size again and tells the sector size it sees:
// 0 when it cannot tell.
static uint32_t refreshed_sector_size(HANDLE disk) {
    uint8_t geometry[GEOMETRY_BUFFER_SIZE];
    memset(geometry, 0, sizeof geometry);
    if (!device_control(disk, IOCTL_DISK_UPDATE_DRIVE_SIZE, nullptr, 0, geometry,
                        DISK_GEOMETRY_SIZE))
        printf("IOCtl: update drive size failed 0x%x!\n", last_error());
    if (!device_control(disk, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0))
        printf("IOCtl: update properties failed 0x%x!\n", last_error());
    memset(geometry, 0, sizeof geometry);
    if (!device_control(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, geometry,
                        sizeof geometry)) {
        printf("IOCtl: drive geometry failed 0x%x!\n", last_error());
        return 0;
    }
    return get_le32(geometry, DISK_GEOMETRY_BYTES_PER_SECTOR);
}

// Reads the samples again and counts; the verdict, or a read error.
static VerifyVerdict compare(VerifySamples* v, HANDLE disk, LogBlock* log) {
    VerifyResult& r = v->result;
    for (uint32_t i = 0; i < v->count; ++i) {
        if (!read_sample(v, disk, i, log))
            return VERIFY_READ_ERROR;
        uint8_t blank = 0;
        const uint64_t hash = hash_unit(page_buffer(v), v->unit, &blank);
        if (v->blank[i])
            continue;
        ++r.held_data;
        if (hash == v->hash[i])
            ++r.unchanged;
        // A deallocated block reads one of the blank values (DLFEAT): what
        // reads neither is new content, as a crypto erase leaves it.
        else if (!blank)
            ++r.not_pattern;
    }
    r.samples = v->count;
    report(log, "Verify  : %u samples, %u held data, %u unchanged\n", r.samples, r.held_data,
           r.unchanged);
    if (r.unchanged) {
        report(log, "Verify error: data survived the erase!\n");
        return VERIFY_DATA_SURVIVED;
    }
    if (!r.held_data) {
        report(log, "Verify  : nothing to compare, the samples were blank before the erase\n");
        return VERIFY_NOTHING_TO_COMPARE;
    }
    report(log, "Verified!\n");
    return VERIFY_VERIFIED;
}

int verify_after_erase(VerifySamples* v, HANDLE disk, uint32_t lba_size, LogBlock* log,
                       int confirmed) {
    VerifyResult& r = v->result;
    if (v->unit > VERIFY_MAX_UNIT) {
        skip(&r, log, "%u-byte blocks are larger than the check reads", v->unit);
    } else if (!v->sampled) {
        skip(&r, log, "the samples could not be read before the erase");
    } else {
        const uint32_t sector = refreshed_sector_size(disk);
        if (sector == 0) {
            skip(&r, log, "Windows does not tell its sector size");
        } else if (sector != lba_size) {
            skip(&r, log, "Windows still sees %u-byte sectors: re-plug the drive", sector);
        } else {
            const uint32_t start = tick_ms();
            r.verdict = compare(v, disk, log);
            r.check_ms = tick_ms() - start;
        }
    }
    if (r.verdict == VERIFY_DATA_SURVIVED)
        return EXIT_DATA_SURVIVED;
    if (r.verdict == VERIFY_VERIFIED || (confirmed && r.verdict == VERIFY_NOTHING_TO_COMPARE))
        return EXIT_ERASED;
    return confirmed ? EXIT_NOT_VERIFIED : EXIT_POSSIBLY_ERASED;
}

int verify_impossible(VerifySamples* v, LogBlock* log, const char* reason, int confirmed) {
    skip(&v->result, log, "%s", reason);
    return confirmed ? EXIT_NOT_VERIFIED : EXIT_POSSIBLY_ERASED;
}
