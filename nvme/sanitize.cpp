// Building Sanitize and Get Log Page, and reading SANICAP and the log.
#include "nvme/sanitize.h"

#include <cstring>

#include "platform/wire.h"

constexpr uint32_t SANITIZE_AUSE = 1u << 3;
constexpr uint32_t SANITIZE_ONE_PASS = 1u << 4; // OWPASS 1
constexpr uint32_t LOG_RAE = 1u << 15;
constexpr uint32_t NO_ESTIMATE = 0xFFFFFFFF;

int command_waits_long(const AdminCommand* command) {
    const uint32_t opcode = command->cdw0 & 0xFF;
    return opcode == NVME_OPC_FORMAT_NVM || opcode == NVME_OPC_SANITIZE;
}

uint32_t sanitize_action_bit(int action) {
    switch (action) {
    case SANITIZE_CRYPTO_ERASE:
        return 1u << 0;
    case SANITIZE_BLOCK_ERASE:
        return 1u << 1;
    case SANITIZE_OVERWRITE:
        return 1u << 2;
    default:
        return 0;
    }
}

uint32_t sanitize_capabilities(const uint8_t* identify) {
    return get_le32(identify, ID_CTRL_SANICAP) & 0x7;
}

uint32_t sanitize_cdw10(int action) {
    switch (action) {
    case SANITIZE_BLOCK_ERASE:
        return SANACT_BLOCK_ERASE | SANITIZE_AUSE;
    case SANITIZE_CRYPTO_ERASE:
        return SANACT_CRYPTO_ERASE | SANITIZE_AUSE;
    case SANITIZE_OVERWRITE:
        return SANACT_OVERWRITE | SANITIZE_AUSE | SANITIZE_ONE_PASS;
    default:
        return 0;
    }
}

int sanitize_action_of(uint32_t cdw10) {
    switch (cdw10 & 0x7) {
    case SANACT_BLOCK_ERASE:
        return SANITIZE_BLOCK_ERASE;
    case SANACT_CRYPTO_ERASE:
        return SANITIZE_CRYPTO_ERASE;
    case SANACT_OVERWRITE:
        return SANITIZE_OVERWRITE;
    default:
        return 0;
    }
}

AdminCommand sanitize_command(int action) {
    AdminCommand command;
    memset(&command, 0, sizeof command);
    command.cdw0 = NVME_OPC_SANITIZE;
    command.cdw10 = sanitize_cdw10(action);
    return command;
}

AdminCommand sanitize_log_command() {
    AdminCommand command;
    memset(&command, 0, sizeof command);
    command.cdw0 = NVME_OPC_GET_LOG_PAGE;
    command.nsid = 0xFFFFFFFF;
    // NUMDL counts dwords from 0: 127 for 512 bytes.
    command.cdw10 = SANITIZE_LOG_ID | LOG_RAE | ((SANITIZE_LOG_SIZE / 4 - 1) << 16);
    return command;
}

static uint32_t estimate(const uint8_t* log, uint32_t offset) {
    const uint32_t seconds = get_le32(log, offset);
    return seconds == NO_ESTIMATE ? 0 : seconds;
}

void decode_sanitize_log(const uint8_t* log, SanitizeLog* decoded) {
    decoded->progress = get_le16(log, 0);
    decoded->status = get_le16(log, 2) & 0x7;
    decoded->cdw10 = get_le32(log, 4);
    decoded->estimate_overwrite = estimate(log, 8);
    decoded->estimate_block = estimate(log, 12);
    decoded->estimate_crypto = estimate(log, 16);
}

uint32_t sanitize_estimate(const SanitizeLog& log, int action) {
    switch (action) {
    case SANITIZE_BLOCK_ERASE:
        return log.estimate_block;
    case SANITIZE_CRYPTO_ERASE:
        return log.estimate_crypto;
    case SANITIZE_OVERWRITE:
        return log.estimate_overwrite;
    default:
        return 0;
    }
}

uint32_t sanitize_percent(const SanitizeLog& log) {
    return log.progress * 100 / 65536;
}
