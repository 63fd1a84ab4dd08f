// What the namespace holds, per 4 KiB unit of its byte capacity, and what an
// erase does to it; and how Windows reads it through the disk handle.
//
// A unit's content is worked out when it is read: the host file's `media`
// decides what each unit held at first (content made from the drive's serial
// and the unit's byte offset, or 00h), and every successful erase since then
// is replayed over it, the latest first.
#pragma once

#include <cstdint>
#include <vector>

struct Controller;
struct Drive;

constexpr uint32_t MEDIA_UNIT = 4096;

// `erase_effect` of the host file.
enum EraseEffect { ERASE_DEALLOCATE, ERASE_RANDOM, ERASE_NONE, ERASE_PARTIAL, ERASE_KEEP_SHARE };

// One erase that reached the media: its effect, the byte a deallocated unit
// reads (from DLFEAT), and the share of units it leaves as they were.
struct MediaErase {
    EraseEffect effect;
    uint8_t fill;
    double keep_share;
};

// The largest read the disk serves.
constexpr uint32_t MEDIA_MAX_READ = 1u << 20;

struct Media {
    std::vector<MediaErase> erases; // oldest first
};

// A successful Format NVM or Sanitize reaches namespace `ns`: its effect on
// the content, the erase effect (and share kept) of the controller `owner`
// (a deallocated unit reads as the namespace's DLFEAT says). The caller
// changes the format itself.
struct ControllerConfig;
void media_erase(Controller& ns, const ControllerConfig& owner);

// `size` bytes of the namespace from byte `offset` into `out`, as the
// controller holds them now.
void media_read(const Controller& controller, uint64_t offset, uint8_t* out, uint32_t size);

// Bytes of the namespace in the format in use.
uint64_t media_capacity(const Controller& controller);

// A read of the disk through Windows, the drive's `nth` read: 0, with `out`
// filled, or the last-error code. Offsets and sizes must be multiples of the
// sector size Windows sees, sizes at most MEDIA_MAX_READ (87); a read past
// the end reads short (38). `device_us` is the time the drive spent on it
// by its read model (0 for a read it never served).
uint32_t drive_read(Drive& drive, uint32_t nth, uint64_t offset, uint8_t* out, uint32_t size,
                    uint64_t* device_us);
