#include "dialogue/verify.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "dialogue/dialogue.h"
#include "dialogue/mix.h"
#include "dialogue/verify_unit.h"
#include "nvme/identify.h"
#include "platform/report.h"
#include "platform/wire.h"

namespace {

// A pass that has run this long shows its progress.
constexpr uint32_t PROGRESS_AFTER_MS = 10000;

// The splitmix64 steps: positions from the seed, and the seed from the tick
// counter.
uint64_t next_random(uint64_t* state) {
    *state += 0x9E3779B97F4A7C15ull;
    return mix64(*state);
}

uint8_t* page_buffer(VerifySamples* v) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(v->space);
    return v->space + (VERIFY_PAGE - at % VERIFY_PAGE) % VERIFY_PAGE;
}

// The sample positions in ascending order, made from the seed the same way
// before and after the erase: every unit of a small namespace; else the
// first, two distinct ones in each of the parts, and the last.
struct SampleWalk {
    uint64_t units, count, next;
    uint64_t parts, per_part, spread; // units = per_part * parts + spread
    uint64_t state, pending;
};

void walk_begin(SampleWalk* w, uint64_t units, uint64_t count, uint64_t seed) {
    w->units = units;
    w->count = count;
    w->next = 0;
    w->parts = count < units ? (count - 2) / 2 : 1;
    w->per_part = units / w->parts;
    w->spread = units % w->parts;
    w->state = seed;
    w->pending = 0;
}

// The first unit of part `s`: s * units / parts, without a product that
// could pass 64 bits.
uint64_t part_start(const SampleWalk& w, uint64_t s) {
    return s * w.per_part + s * w.spread / w.parts;
}

uint64_t walk_next(SampleWalk* w) {
    const uint64_t i = w->next++;
    if (w->count >= w->units)
        return i;
    if (i == 0)
        return 0;
    if (i == w->count - 1)
        return w->units - 1;
    if ((i - 1) % 2)
        return w->pending;
    const uint64_t s = (i - 1) / 2;
    const uint64_t low = part_start(*w, s);
    const uint64_t length = part_start(*w, s + 1) - low; // 2 or more
    const uint64_t a = next_random(&w->state) % length;
    uint64_t b = next_random(&w->state) % (length - 1);
    if (b >= a)
        ++b;
    w->pending = low + (a < b ? b : a);
    return low + (a < b ? a : b);
}

// Samples of a P% level: H hundredths of a percent of the units, rounded up,
// at least the quick check's, and an even number of them in the parts.
uint64_t percent_samples(uint32_t hundredths, uint64_t units) {
    uint64_t n = units / 10000 * hundredths + (units % 10000 * hundredths + 9999) / 10000;
    if (n < VERIFY_MAX_SAMPLES)
        n = VERIFY_MAX_SAMPLES;
    return n + (n - 2) % 2;
}

// A level's text: 1 with the depth and, for P%, the hundredths; 0 for
// anything else. P% is digits, optionally a point and one or two digits,
// then '%', from 0.01 to 100.
int read_level(const char* text, VerifyDepth* depth, uint32_t* hundredths) {
    if (strlen(text) >= VERIFY_LEVEL_SIZE)
        return 0;
    if (strcmp(text, "quick") == 0 || strcmp(text, "full") == 0) {
        *depth = text[0] == 'q' ? VERIFY_QUICK : VERIFY_FULL;
        return 1;
    }
    const char* p = text;
    uint32_t value = 0; // in hundredths, stopping once past 100 %
    for (; *p >= '0' && *p <= '9'; ++p)
        if (value <= 10000)
            value = value * 10 + static_cast<uint32_t>(*p - '0') * 100;
    if (p == text)
        return 0;
    if (*p == '.') {
        const char* digits = ++p;
        for (uint32_t scale = 10; *p >= '0' && *p <= '9' && p - digits < 2; ++p, scale /= 10)
            value += static_cast<uint32_t>(*p - '0') * scale;
        if (p == digits || (*p >= '0' && *p <= '9'))
            return 0;
    }
    if (p[0] != '%' || p[1] != 0 || value < 1 || value > 10000)
        return 0;
    *depth = VERIFY_PERCENT;
    *hundredths = value;
    return 1;
}

// The hash of a sample, bit 0 set when it was blank.
uint64_t sample_entry(const uint8_t* unit, uint32_t size) {
    return (unit_hash(unit, size) & ~1ull) | (unit_fill(unit, size) != VERIFY_NO_FILL ? 1 : 0);
}

// Reads `size` bytes at `offset` into the buffer; on failure prints and
// keeps the error.
int read_at(VerifySamples* v, HANDLE disk, uint64_t offset, uint32_t size, LogBlock* log) {
    if (read_disk(disk, offset, page_buffer(v), size))
        return 1;
    v->result.read_error = last_error();
    v->result.read_offset = offset;
    report(log, "Verify  : read error %u at offset %llu\n", v->result.read_error,
           static_cast<unsigned long long>(offset));
    return 0;
}

// "Verifying: n%", console only, at each tenth a pass passes once it has run
// PROGRESS_AFTER_MS; a shorter pass shows none.
struct Progress {
    int on;
    uint32_t start;
    uint32_t shown; // the last tenth passed, printed or not
    uint64_t total;
};

void progress_begin(Progress* p, int on, uint64_t total) {
    p->on = on;
    p->start = tick_ms();
    p->shown = 0;
    p->total = total;
}

void progress_step(Progress* p, uint64_t done) {
    if (!p->on)
        return;
    const uint32_t tenth = static_cast<uint32_t>(done * 10 / p->total) * 10;
    const int long_enough = tick_ms() - p->start >= PROGRESS_AFTER_MS;
    for (; p->shown + 10 <= tenth && p->shown < 90; p->shown += 10)
        if (long_enough)
            printf("Verifying: %u%%\n", p->shown + 10);
}

// A sample read again after the erase, against its entry from before.
void compare_sample(VerifyResult* r, uint64_t entry, const uint8_t* unit, uint32_t size) {
    if (entry & 1)
        return; // blank before: it shows nothing
    ++r->held_data;
    if ((unit_hash(unit, size) & ~1ull) == (entry & ~1ull))
        ++r->unchanged;
    // A deallocated block reads one of the blank values (DLFEAT): what
    // reads neither is new content, as a crypto erase leaves it.
    else if (unit_fill(unit, size) == VERIFY_NO_FILL)
        ++r->not_pattern;
}

// The samples read one unit a request in ascending order: compared with
// their entries after an erase (`compare`), or, for a drive checked alone,
// each unit once, counting those that hold data.
int sampled_pass(VerifySamples* v, HANDLE disk, LogBlock* log, int compare, int show) {
    VerifyResult& r = v->result;
    const uint8_t* buffer = page_buffer(v);
    SampleWalk walk;
    walk_begin(&walk, v->units, v->count, r.seed);
    Progress progress;
    progress_begin(&progress, show, v->count);
    uint64_t previous = ~0ull;
    for (uint64_t i = 0; i < v->count; ++i) {
        const uint64_t unit = walk_next(&walk);
        if (!compare && unit == previous)
            continue;
        previous = unit;
        if (!read_at(v, disk, unit * v->unit, v->unit, log))
            return 0;
        ++r.units_read;
        if (compare)
            compare_sample(&r, v->table[i], buffer, v->unit);
        else if (unit_fill(buffer, v->unit) == VERIFY_NO_FILL)
            ++r.units_not_erased;
        progress_step(&progress, i + 1);
    }
    r.bytes_read = r.units_read * v->unit;
    return 1;
}

// Every byte of the namespace in VERIFY_FULL_READ requests in ascending
// order, the last one holding what remains. After an erase the samples are
// compared as the pass comes to them and, when what an erased unit reads is
// known, every unit that does not read it is counted; for a drive checked
// alone every unit that holds data.
int full_pass(VerifySamples* v, HANDLE disk, LogBlock* log, int compare) {
    VerifyResult& r = v->result;
    const uint8_t* buffer = page_buffer(v);
    SampleWalk walk;
    walk_begin(&walk, v->units, v->count, r.seed);
    uint64_t sample = 0;
    uint64_t sample_unit = v->count ? walk_next(&walk) : ~0ull;
    const uint64_t requests = (v->capacity + VERIFY_FULL_READ - 1) / VERIFY_FULL_READ;
    Progress progress;
    progress_begin(&progress, 1, requests);
    for (uint64_t request = 0; request < requests; ++request) {
        const uint64_t offset = request * VERIFY_FULL_READ;
        const uint64_t left = v->capacity - offset;
        const uint32_t size =
            left < VERIFY_FULL_READ ? static_cast<uint32_t>(left) : VERIFY_FULL_READ;
        if (!read_at(v, disk, offset, size, log))
            return 0;
        for (uint32_t at = 0; at < size; at += v->unit) {
            const uint8_t* unit = buffer + at;
            const uint32_t bytes = size - at < v->unit ? size - at : v->unit;
            const uint64_t index = (offset + at) / v->unit;
            ++r.units_read;
            if (!compare) {
                r.units_not_erased += unit_fill(unit, bytes) == VERIFY_NO_FILL;
                continue;
            }
            if (v->fill != VERIFY_NO_FILL && unit_fill(unit, bytes) != v->fill)
                ++r.units_not_erased;
            for (; sample < v->count && sample_unit == index; ++sample) {
                compare_sample(&r, v->table[sample], unit, v->unit);
                sample_unit = sample + 1 < v->count ? walk_next(&walk) : ~0ull;
            }
        }
        progress_step(&progress, request + 1);
    }
    r.bytes_read = v->capacity;
    return 1;
}

// The pass after the erase, or of a drive checked alone, timed from before
// its first read to after its last; for P% and full the level line.
int timed_pass(VerifySamples* v, HANDLE disk, LogBlock* log, int compare) {
    VerifyResult& r = v->result;
    r.held_data = r.unchanged = r.not_pattern = 0;
    r.units_read = r.bytes_read = r.units_not_erased = 0;
    const uint32_t start = tick_ms();
    const int read = v->depth == VERIFY_FULL ? full_pass(v, disk, log, compare)
                                             : sampled_pass(v, disk, log, compare,
                                                            !compare || v->depth != VERIFY_QUICK);
    r.check_ms = tick_ms() - start;
    if (read && v->depth != VERIFY_QUICK) {
        const uint64_t rate = r.check_ms ? r.bytes_read / (1000ull * r.check_ms) : 0;
        report(log, "Verify  : %s, %llu units of %u bytes read in %u ms (%u MB/s)\n", r.level,
               static_cast<unsigned long long>(r.units_read), v->unit, r.check_ms,
               rate > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(rate));
    }
    return read;
}

// The samples line, the full pass's units line and the verdict.
VerifyVerdict verdict_of(VerifySamples* v, LogBlock* log) {
    VerifyResult& r = v->result;
    r.samples = static_cast<uint32_t>(v->count);
    report(log, "Verify  : %u samples, %u held data, %u unchanged\n", r.samples, r.held_data,
           r.unchanged);
    // What an erased unit reads counts only when the samples show the erase
    // left it: new content where data was (a crypto erase that does not
    // deallocate) says the drive leaves something else, and only the
    // samples can tell old content from new.
    r.pattern_known = v->depth == VERIFY_FULL && v->fill != VERIFY_NO_FILL && r.not_pattern == 0;
    if (r.pattern_known)
        report(log, "Verify  : %llu units, %llu not erased\n",
               static_cast<unsigned long long>(r.units_read),
               static_cast<unsigned long long>(r.units_not_erased));
    else
        r.units_not_erased = 0;
    if (r.unchanged || r.units_not_erased) {
        report(log, "Verify error: data survived the erase!\n");
        return VERIFY_DATA_SURVIVED;
    }
    if (!r.held_data) {
        report(log, "Verify  : nothing to compare, the samples were blank before the erase\n");
        return VERIFY_NOTHING_TO_COMPARE;
    }
    if (r.held_data < VERIFY_ENOUGH_HELD) {
        report(log, "Verify  : only %u samples held data: too few to show the erase\n",
               r.held_data);
        return VERIFY_TOO_FEW;
    }
    report(log, "Verified!\n");
    return VERIFY_VERIFIED;
}

void skip(VerifyResult* r, LogBlock* log, const char* format, ...) VELTRANE_PRINTF(3, 4);
void skip(VerifyResult* r, LogBlock* log, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(r->skip_reason, sizeof r->skip_reason, format, args);
    va_end(args);
    r->verdict = VERIFY_SKIPPED;
    report(log, "Verify  : skipped, %s\n", r->skip_reason);
}

// A check that cannot read what it needs: why, or 0 when it can.
int cannot_read(VerifySamples* v, LogBlock* log) {
    if (v->unit > VERIFY_MAX_UNIT)
        skip(&v->result, log, "%u-byte blocks are larger than the check reads", v->unit);
    else if (v->units == 0)
        skip(&v->result, log, "the namespace is smaller than one %u-byte unit", v->unit);
    else
        return 0;
    return 1;
}

// Windows reads the drive's size again and tells the sector size it sees:
// 0 when it cannot tell.
uint32_t refreshed_sector_size(HANDLE disk) {
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

int erase_status(VerifyVerdict verdict, int confirmed) {
    if (verdict == VERIFY_DATA_SURVIVED)
        return EXIT_DATA_SURVIVED;
    if (verdict == VERIFY_VERIFIED)
        return EXIT_ERASED;
    return confirmed ? EXIT_NOT_VERIFIED : EXIT_POSSIBLY_ERASED;
}

} // namespace

int verify_begin(VerifySamples* v, int given, const char* value) {
    memset(&v->result, 0, sizeof v->result);
    v->table = nullptr;
    v->allocated = nullptr;
    v->depth = VERIFY_QUICK;
    v->hundredths = 0;
    v->fill = VERIFY_NO_FILL;
    v->capacity = v->units = v->count = 0;
    v->unit = VERIFY_MIN_UNIT;
    v->sampled = 0;
    const char* level = given ? value : "quick";
    if (!level || !read_level(level, &v->depth, &v->hundredths)) {
        printf("Error: --verify=%s is not a level: quick, full or 0.01%% to 100%%\n",
               level ? level : "");
        return 0;
    }
    strcpy(v->result.level, level);
    v->result.full = v->depth == VERIFY_FULL;
    return 1;
}

int verify_namespace(VerifySamples* v, const uint8_t* ns, uint32_t lba_size, LogBlock* log,
                     uint64_t* capacity) {
    const uint64_t blocks = namespace_size(ns);
    if (lba_size == 0 || blocks > ~0ull / lba_size) {
        report(log, "Error: the namespace size is out of range\n");
        return 0;
    }
    *capacity = blocks * lba_size;
    const uint32_t dlfeat = ns[ID_NS_DLFEAT] & 7;
    v->fill = dlfeat == 1 ? 0x00 : dlfeat == 2 ? 0xFF : VERIFY_NO_FILL;
    return 1;
}

uint32_t verify_unit(uint32_t old_size, uint32_t new_size) {
    const uint32_t larger = old_size > new_size ? old_size : new_size;
    return larger > VERIFY_MIN_UNIT ? larger : VERIFY_MIN_UNIT;
}

int verify_plan(VerifySamples* v, uint64_t capacity, uint32_t unit, int erase, LogBlock* log) {
    v->capacity = capacity;
    v->unit = unit;
    v->units = unit > VERIFY_MAX_UNIT ? 0 : capacity / unit;
    uint64_t n = VERIFY_MAX_SAMPLES;
    if (v->depth == VERIFY_PERCENT) {
        n = percent_samples(v->hundredths, v->units);
        if (n > VERIFY_MOST_SAMPLES) {
            report(log, "Error: --verify=%s reads more than %llu samples: use full\n",
                   v->result.level, static_cast<unsigned long long>(VERIFY_MOST_SAMPLES));
            return EXIT_BAD_INPUT;
        }
    }
    // A drive checked alone at the full level has no samples.
    v->count = !erase && v->depth == VERIFY_FULL ? 0 : v->units < n ? v->units : n;
    v->table = v->quick_table;
    if (erase && v->count > VERIFY_MAX_SAMPLES) {
        v->allocated = static_cast<uint64_t*>(malloc(v->count * sizeof *v->allocated));
        if (!v->allocated) {
            report(log, "Error: not enough memory for --verify=%s\n", v->result.level);
            return EXIT_BAD_INPUT;
        }
        v->table = v->allocated;
    }
    return 0;
}

void verify_sample(VerifySamples* v, HANDLE disk, LogBlock* log) {
    VerifyResult& r = v->result;
    v->sampled = 0;
    if (v->units == 0)
        return;
    r.seed = mix64(0x5EED000000000000ull | tick_ms());
    const uint8_t* buffer = page_buffer(v);
    SampleWalk walk;
    walk_begin(&walk, v->units, v->count, r.seed);
    Progress progress;
    progress_begin(&progress, v->depth == VERIFY_PERCENT, v->count);
    for (uint64_t i = 0; i < v->count; ++i) {
        if (!read_at(v, disk, walk_next(&walk) * v->unit, v->unit, log))
            return;
        v->table[i] = sample_entry(buffer, v->unit);
        progress_step(&progress, i + 1);
    }
    v->sampled = 1;
}

int verify_after_erase(VerifySamples* v, HANDLE disk, uint32_t lba_size, LogBlock* log,
                       int confirmed) {
    VerifyResult& r = v->result;
    if (cannot_read(v, log)) {
        // told
    } else if (!v->sampled) {
        skip(&r, log, "the samples could not be read before the erase");
    } else {
        const uint32_t sector = refreshed_sector_size(disk);
        if (sector == 0)
            skip(&r, log, "Windows does not tell its sector size");
        else if (sector != lba_size)
            skip(&r, log, "Windows still sees %u-byte sectors: re-plug the drive", sector);
        else
            r.verdict = timed_pass(v, disk, log, 1) ? verdict_of(v, log) : VERIFY_READ_ERROR;
    }
    return erase_status(r.verdict, confirmed);
}

int verify_impossible(VerifySamples* v, LogBlock* log, const char* reason, int confirmed) {
    skip(&v->result, log, "%s", reason);
    return confirmed ? EXIT_NOT_VERIFIED : EXIT_POSSIBLY_ERASED;
}

int verify_drive_contents(VerifySamples* v, HANDLE disk, LogBlock* log, char* line, uint32_t size) {
    VerifyResult& r = v->result;
    if (cannot_read(v, log)) {
        snprintf(line, size, "Verify  : skipped, %s", r.skip_reason);
        return EXIT_NOT_VERIFIED;
    }
    r.seed = mix64(0x5EED000000000000ull | tick_ms());
    if (!timed_pass(v, disk, log, 0)) {
        r.verdict = VERIFY_READ_ERROR;
        snprintf(line, size, "Verify  : read error %u at offset %llu", r.read_error,
                 static_cast<unsigned long long>(r.read_offset));
        return EXIT_NOT_VERIFIED;
    }
    r.pattern_known = 1;
    report(log, "Verify  : %llu units read, %llu hold data\n",
           static_cast<unsigned long long>(r.units_read),
           static_cast<unsigned long long>(r.units_not_erased));
    r.verdict = r.units_not_erased ? VERIFY_HOLDS_DATA : VERIFY_BLANK;
    snprintf(line, size, "%s",
             r.units_not_erased ? "Verify error: the drive holds data!" : "Verify  : blank!");
    report(log, "%s\n", line);
    return r.units_not_erased ? EXIT_DATA_SURVIVED : EXIT_ERASED;
}

void verify_release(VerifySamples* v) {
    free(v->allocated);
    v->allocated = nullptr;
    v->table = nullptr;
}
