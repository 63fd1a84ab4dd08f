// Sanitize on the simulated clock: it starts at the command, SPROG grows
// linearly over the action's time, and it ends at the first look after that
// time has passed (sanitize_advance), which is when its outcome is recorded.
#include "sim/sanitize.h"

#include "platform/wire.h"
#include "sim/controller.h"
#include "sim/media.h"
#include "sim/stack.h"

#include <algorithm>

namespace {

constexpr uint16_t SSTAT_COMPLETED = 1;
constexpr uint16_t SSTAT_IN_PROGRESS = 2;
constexpr uint16_t SSTAT_FAILED = 3;
constexpr uint32_t NO_ESTIMATE = 0xFFFFFFFF;

uint32_t action_ms(const Controller& c, uint32_t sanact) {
    switch (sanact) {
    case SANACT_BLOCK:
        return c.config.sanitize_ms.block;
    case SANACT_CRYPTO:
        return c.config.sanitize_ms.crypto;
    default:
        return c.config.sanitize_ms.overwrite;
    }
}

int64_t now_ms() {
    return static_cast<int64_t>(sim_clock_ms());
}

// The end of a sanitize: its outcome goes into the log. Everything a
// finished sanitize changes on the drive belongs here.
void sanitize_end(Controller& c) {
    c.sanitizing = false;
    c.sstat = c.config.sanitize_fails ? SSTAT_FAILED : SSTAT_COMPLETED;
    if (c.config.sanitize_fails)
        return;
    // Every namespace of the controller.
    if (c.namespaces.empty())
        media_erase(c, c.config);
    for (Controller* ns : c.namespaces)
        media_erase(*ns, c.config);
}

uint32_t estimate_s(const Controller& c, uint32_t ms) {
    return c.config.sanitize_estimates ? (ms + 999) / 1000 : NO_ESTIMATE;
}

} // namespace

void sanitize_found(Controller& c) {
    const SanitizeState& state = c.config.sanitize_state;
    c.sstat = state.status;
    c.scdw10 = state.cdw10;
    c.sanitizing = state.status == SSTAT_IN_PROGRESS;
    if (!c.sanitizing)
        return;
    // Begun before this run: the part of its time already spent lies before
    // the clock's start.
    c.sanitize_total_ms = std::max(action_ms(c, state.cdw10 & 0x7), state.remaining_ms);
    c.sanitize_start_ms =
        static_cast<int64_t>(state.remaining_ms) - static_cast<int64_t>(c.sanitize_total_ms);
}

void sanitize_advance(Controller& c) {
    if (c.sanitizing && !c.config.sanitize_stalls &&
        now_ms() >= c.sanitize_start_ms + c.sanitize_total_ms)
        sanitize_end(c);
}

bool controller_sanitizing(Controller& reached) {
    Controller& c = controller_owner(reached);
    sanitize_advance(c);
    return c.sanitizing;
}

bool sanitize_supported(const Controller& reached, uint32_t sanact) {
    const Controller& c = reached.owner ? *reached.owner : reached;
    switch (sanact) {
    case SANACT_CRYPTO:
        return (c.config.sanicap & 1u) != 0;
    case SANACT_BLOCK:
        return (c.config.sanicap & 2u) != 0;
    case SANACT_OVERWRITE:
        return (c.config.sanicap & 4u) != 0;
    default:
        return false;
    }
}

uint16_t sanitize_start(Controller& c, uint32_t cdw10) {
    if (!sanitize_supported(c, cdw10 & 0x7))
        return NVME_SC_INVALID_FIELD;
    if (c.config.sanitize_noop)
        return NVME_SC_SUCCESS; // accepted, and nothing happens: not in the log, not on the media
    c.sanitizing = true;
    c.sanitize_begun_here = true;
    c.sstat = SSTAT_IN_PROGRESS;
    c.scdw10 = cdw10;
    c.sanitize_start_ms = now_ms();
    c.sanitize_total_ms = action_ms(c, cdw10 & 0x7);
    sanitize_advance(c); // a sanitize of no time is over at once
    return NVME_SC_SUCCESS;
}

uint32_t sanitize_remaining_ms(Controller& reached) {
    Controller& c = controller_owner(reached);
    sanitize_advance(c);
    if (!c.sanitizing)
        return 0;
    if (c.config.sanitize_stalls)
        return UINT32_MAX;
    return static_cast<uint32_t>(c.sanitize_start_ms + c.sanitize_total_ms - now_ms());
}

std::vector<uint8_t> sanitize_log(const Controller& c) {
    std::vector<uint8_t> log(NVME_SANITIZE_LOG_SIZE, 0);
    uint8_t* p = log.data();
    uint32_t progress = 0xFFFF;
    if (c.sanitizing) {
        int64_t elapsed = std::max<int64_t>(0, now_ms() - c.sanitize_start_ms);
        if (c.config.sanitize_stalls)
            elapsed = std::min<int64_t>(elapsed, c.sanitize_total_ms / 2);
        progress = c.sanitize_total_ms == 0 ? 0
                                            : static_cast<uint32_t>(std::min<int64_t>(
                                                  65535, elapsed * 65536 / c.sanitize_total_ms));
        if (c.config.sanitize_stalls && elapsed * 2 >= c.sanitize_total_ms)
            progress = 32768;
    }
    put_le16(p, 0, progress);
    put_le16(p, 2, c.sstat);
    put_le32(p, 4, c.scdw10);
    put_le32(p, 8, estimate_s(c, c.config.sanitize_ms.overwrite));
    put_le32(p, 12, estimate_s(c, c.config.sanitize_ms.block));
    put_le32(p, 16, estimate_s(c, c.config.sanitize_ms.crypto));
    return log;
}
