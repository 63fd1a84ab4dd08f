// Detection: the paths are tried in a fixed order, each by sending Identify
// Controller through it.
#include <cstring>

#include "platform/report.h"
#include "transport/transport.h"
#include "transport/usb/scsi_envelope.h"

// Identify Controller through `transport`; all-zero data count as no answer,
// and so does a bridge's refusal (any SCSI status but GOOD), silently.
// `refused`, when given: whether the bridge answered CHECK CONDITION.
static int probe(TransportCall transport, DriveState* drive, uint8_t* identify,
                 int* refused = nullptr) {
    const AdminCommand command = identify_controller_command();
    drive->probing = 1;
    const int answered = transport(drive, identify, IDENTIFY_SIZE, DIR_FROM_DEVICE, &command);
    if (refused)
        *refused = drive->probing == PROBE_REFUSED;
    drive->probing = 0;
    if (!answered)
        return 0;
    uint8_t any = 0;
    for (uint32_t i = 0; i < IDENTIFY_SIZE; ++i)
        any |= identify[i];
    return any != 0;
}

int probe_jms(DriveState* drive, uint8_t* identify) {
    return probe(jms_passthrough, drive, identify);
}

int probe_asm_legacy(DriveState* drive, uint8_t* identify) {
    return probe(asm_legacy_passthrough, drive, identify);
}

int probe_asm(DriveState* drive, uint8_t* identify) {
    return probe(asm_passthrough, drive, identify);
}

int probe_rtl(DriveState* drive, uint8_t* identify) {
    return probe(rtl_passthrough, drive, identify);
}

int probe_ofa(DriveState* drive, uint8_t* identify) {
    return probe(ofa_passthrough, drive, identify);
}

static const char* bridge_name(uint8_t kind) {
    switch (kind) {
    case TRANSPORT_JMS:
        return "JMS";
    case TRANSPORT_ASM:
        return "ASM";
    case TRANSPORT_RTL:
        return "RTL";
    default:
        return "";
    }
}

// JMicron first; an answer to the ASMedia Id/Smart command commits to
// ASMedia, without trying Realtek. Old firmware refuses the two-phase tunnel
// with CHECK CONDITION; a request that failed is no answer at all.
static int detect_bridge(DriveState* drive, uint8_t* identify, LogBlock* log) {
    if (probe_jms(drive, identify))
        return TRANSPORT_JMS;
    if (probe_asm_legacy(drive, identify)) {
        int refused = 0;
        if (probe(asm_passthrough, drive, identify, &refused))
            return TRANSPORT_ASM;
        if (refused) {
            report(log, "ASM2362 with old firmware is not supported, need to update firmware to "
                        "19xxxx\n");
            drive->old_asmedia = 1;
        }
        return TRANSPORT_NONE;
    }
    if (probe_rtl(drive, identify))
        return TRANSPORT_RTL;
    return TRANSPORT_NONE;
}

// The inbox driver's query before the OFA miniport.
static int detect_driver(DriveState* drive, uint8_t* identify, LogBlock* log) {
    if (inbox_identify_controller(drive, identify)) {
        drive->transport = TRANSPORT_INBOX;
        report(log, "Driver  : W10\n");
        return 1;
    }
    if (probe_ofa(drive, identify)) {
        drive->transport = TRANSPORT_OFA;
        report(log, "Driver  : OFA\n");
        return 1;
    }
    return 0;
}

int detect_transport(DriveState* drive, uint8_t* identify, LogBlock* log) {
    drive->old_asmedia = 0;
    drive->transport = TRANSPORT_NONE;
    if (drive->is_usb) {
        const int kind = detect_bridge(drive, identify, log);
        if (kind != TRANSPORT_NONE) {
            drive->transport = static_cast<uint8_t>(kind);
            report(log, "Bridge  : %s\n", bridge_name(drive->transport));
            return 1;
        }
    } else if (detect_driver(drive, identify, log)) {
        return 1;
    }
    printf("Identify error!\n");
    return 0;
}
