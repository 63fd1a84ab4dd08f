// The controller's sanitize: a background operation on the simulated clock,
// and the Sanitize Status log that reports it.
#pragma once

#include <cstdint>
#include <vector>

struct Controller;

constexpr uint8_t NVME_ADMIN_GET_LOG_PAGE = 0x02;
constexpr uint8_t NVME_ADMIN_SANITIZE = 0x84;
constexpr uint8_t NVME_LOG_SANITIZE_STATUS = 0x81;
constexpr uint32_t NVME_SANITIZE_LOG_SIZE = 512;
constexpr uint16_t NVME_SC_SANITIZE_IN_PROGRESS = 0x01D;
constexpr uint16_t NVME_SC_INVALID_LOG_PAGE = 0x109;

// SANACT values.
constexpr uint32_t SANACT_BLOCK = 2;
constexpr uint32_t SANACT_OVERWRITE = 3;
constexpr uint32_t SANACT_CRYPTO = 4;
constexpr uint32_t SANITIZE_CDW10_AUSE = 1u << 3;

// The state the host file describes, as the controller starts.
void sanitize_found(Controller& controller);

// Brings the sanitize up to the clock: one that has run its time ends.
void sanitize_advance(Controller& controller);

// Whether a sanitize runs now: every command but Identify and Get Log Page,
// and every read of the media, fails while it does.
bool controller_sanitizing(Controller& controller);

// Sanitize with this CDW10: starts the operation, or the status that refuses
// it (an action SANICAP lacks: Invalid Field).
uint16_t sanitize_start(Controller& controller, uint32_t cdw10);

// Milliseconds of the clock until the running sanitize ends; UINT32_MAX for
// one that stalls; 0 when none runs.
uint32_t sanitize_remaining_ms(Controller& controller);

// Whether SANICAP holds the action SANACT names.
bool sanitize_supported(const Controller& controller, uint32_t sanact);

// The 512-byte Sanitize Status log as it reads now.
std::vector<uint8_t> sanitize_log(const Controller& controller);
