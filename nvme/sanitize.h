// Sanitize and the Sanitize Status log: the two commands, the controller's
// sanitize capabilities and the decoded log. Encoding only.
#pragma once

#include <cstdint>

#include "nvme/admin_command.h"

constexpr uint8_t NVME_OPC_GET_LOG_PAGE = 0x02;
constexpr uint8_t NVME_OPC_SANITIZE = 0x84;

constexpr uint32_t SANITIZE_LOG_ID = 0x81;
constexpr uint32_t SANITIZE_LOG_SIZE = 512;
constexpr uint32_t ID_CTRL_SANICAP = 328;

// The operator's numbers for the actions, also the order in which they are
// listed.
enum SanitizeAction {
    SANITIZE_BLOCK_ERASE = 1,
    SANITIZE_CRYPTO_ERASE = 2,
    SANITIZE_OVERWRITE = 3,
};

// Whether a command may run for minutes within its request: Format NVM, and
// Sanitize as far as a bridge hands it over. Their requests carry the erase timeout.
int command_waits_long(const AdminCommand* command);

// SANACT values of CDW10 bits 2:0.
constexpr uint32_t SANACT_EXIT_FAILURE = 1;
constexpr uint32_t SANACT_BLOCK_ERASE = 2;
constexpr uint32_t SANACT_OVERWRITE = 3;
constexpr uint32_t SANACT_CRYPTO_ERASE = 4;

// SSTAT bits 2:0.
enum SanitizeStatus {
    SANITIZE_NEVER = 0,
    SANITIZE_COMPLETED = 1,
    SANITIZE_IN_PROGRESS = 2,
    SANITIZE_FAILED = 3,
    SANITIZE_COMPLETED_DEALLOCATED = 4,
};

// Bit of an action in a set of actions: SANICAP's own bits (0 crypto erase,
// 1 block erase, 2 overwrite).
uint32_t sanitize_action_bit(int action);
// The actions the controller supports, from Identify Controller bytes 328-331.
uint32_t sanitize_capabilities(const uint8_t* identify);

// SANACT of the action | AUSE (bit 3) | OWPASS 1 (bits 7:4) for overwrite;
// 0 for a number that names no action.
uint32_t sanitize_cdw10(int action);
// The action whose SANACT a CDW10 carries; 0 for none of the three.
int sanitize_action_of(uint32_t cdw10);
// Sanitize, NSID 0, the overwrite pattern 0.
AdminCommand sanitize_command(int action);
// Get Log Page of the Sanitize Status log: NSID FFFFFFFFh, RAE, 512 bytes.
AdminCommand sanitize_log_command();

struct SanitizeLog {
    uint32_t progress;           // SPROG: done share of 65536
    uint32_t status;             // SSTAT bits 2:0
    uint32_t cdw10;              // SCDW10: the command of the last sanitize
    uint32_t estimate_overwrite; // seconds; 0 when the log gives none
    uint32_t estimate_block;
    uint32_t estimate_crypto;
};

void decode_sanitize_log(const uint8_t* log, SanitizeLog* decoded);
// The log's estimate for an action in seconds, 0 when it gives none.
uint32_t sanitize_estimate(const SanitizeLog& log, int action);
// Progress in percent, rounded down.
uint32_t sanitize_percent(const SanitizeLog& log);
