// Building the three admin commands and their submission entry.
#include "nvme/admin_command.h"

#include <cstdio>
#include <cstring>

#include "platform/wire.h"

AdminCommand identify_controller_command() {
    AdminCommand command;
    memset(&command, 0, sizeof command);
    command.cdw0 = NVME_OPC_IDENTIFY;
    command.cdw10 = 1; // CNS 01h: the controller
    return command;
}

AdminCommand identify_namespace_command() {
    AdminCommand command;
    memset(&command, 0, sizeof command);
    command.cdw0 = NVME_OPC_IDENTIFY;
    command.nsid = 1;
    command.cdw10 = 0; // CNS 00h: the namespace named by nsid
    return command;
}

uint32_t format_cdw10(int lbaf, int ses, const FormatProtection& protection) {
    // The format index's bits 3:0 in bits 3:0, its bits 5:4 in bits 13:12;
    // MSET bit 4, PI bits 7:5, PIL bit 8, SES bits 11:9.
    const uint32_t index = static_cast<uint32_t>(lbaf);
    return (index & 0xF) | (protection.mset & 0x1) << 4 | (protection.pi & 0x7) << 5 |
           (protection.pil & 0x1) << 8 | (static_cast<uint32_t>(ses) & 0x7) << 9 |
           ((index >> 4) & 0x3) << 12;
}

AdminCommand format_command(int lbaf, int ses, const FormatProtection& protection) {
    AdminCommand command;
    memset(&command, 0, sizeof command);
    command.cdw0 = NVME_OPC_FORMAT_NVM;
    command.nsid = 1;
    command.cdw10 = format_cdw10(lbaf, ses, protection);
    return command;
}

void build_submission_entry(const AdminCommand* command, uint8_t* entry) {
    memset(entry, 0, SUBMISSION_ENTRY_SIZE);
    put_le32(entry, 0, command->cdw0);
    put_le32(entry, 4, command->nsid);
    const uint32_t words[6] = {command->cdw10, command->cdw11, command->cdw12,
                               command->cdw13, command->cdw14, command->cdw15};
    for (uint32_t i = 0; i < 6; ++i)
        put_le32(entry, 40 + 4 * i, words[i]);
}

int check_transfer_length(uint32_t length) {
    if (length <= MAX_TRANSFER)
        return 1;
    printf("Max Size exceed(%u>%u)!\n", length, MAX_TRANSFER);
    return 0;
}
