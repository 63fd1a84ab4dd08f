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

uint32_t format_cdw10(int lbaf, int ses) {
    // The format index's bits 3:0 in bits 3:0, its bits 5:4 in bits 13:12;
    // SES in bits 11:9; MSET, PI and PIL stay 0.
    const uint32_t index = static_cast<uint32_t>(lbaf);
    return (index & 0xF) | ((index >> 4) & 0x3) << 12 | (static_cast<uint32_t>(ses) & 0x7) << 9;
}

AdminCommand format_command(int lbaf, int ses) {
    AdminCommand command;
    memset(&command, 0, sizeof command);
    command.cdw0 = NVME_OPC_FORMAT_NVM;
    command.nsid = 1;
    command.cdw10 = format_cdw10(lbaf, ses);
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
