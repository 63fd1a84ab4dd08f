// Detection: the paths are tried in a fixed order, each by sending Identify
// Controller through it.
#include <cstring>

#include "platform/report.h"
#include "transport/transport.h"
#include "transport/usb/scsi_envelope.h"

uint8_t g_is_usb = 0;
uint8_t g_old_asmedia = 0;

// Identify Controller through `transport`; all-zero data count as no answer,
// and so does a bridge's refusal (any SCSI status but GOOD), silently.
// `refused`, when given: whether the bridge answered CHECK CONDITION.
static int probe(TransportCall transport, HANDLE handle, uint8_t* identify,
                 int* refused = nullptr) {
    const AdminCommand command = identify_controller_command();
    g_probing = 1;
    const int answered = transport(handle, identify, IDENTIFY_SIZE, DIR_FROM_DEVICE, &command);
    if (refused)
        *refused = g_probing == PROBE_REFUSED;
    g_probing = 0;
    if (!answered)
        return 0;
    uint8_t any = 0;
    for (uint32_t i = 0; i < IDENTIFY_SIZE; ++i)
        any |= identify[i];
    return any != 0;
}

int probe_jms(HANDLE disk, uint8_t* identify) {
    return probe(jms_passthrough, disk, identify);
}

int probe_asm_legacy(HANDLE disk, uint8_t* identify) {
    return probe(asm_legacy_passthrough, disk, identify);
}

int probe_asm(HANDLE disk, uint8_t* identify) {
    return probe(asm_passthrough, disk, identify);
}

int probe_rtl(HANDLE disk, uint8_t* identify) {
    return probe(rtl_passthrough, disk, identify);
}

int probe_ofa(HANDLE port, uint8_t* identify) {
    return probe(ofa_passthrough, port, identify);
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
static int detect_bridge(HANDLE disk, uint8_t* identify, LogBlock* log) {
    if (probe_jms(disk, identify))
        return TRANSPORT_JMS;
    if (probe_asm_legacy(disk, identify)) {
        int refused = 0;
        if (probe(asm_passthrough, disk, identify, &refused))
            return TRANSPORT_ASM;
        if (refused) {
            report(log, "ASM2362 with old firmware is not supported, need to update firmware to "
                        "19xxxx\n");
            g_old_asmedia = 1;
        }
        return TRANSPORT_NONE;
    }
    if (probe_rtl(disk, identify))
        return TRANSPORT_RTL;
    return TRANSPORT_NONE;
}

// The inbox driver's query before the OFA miniport.
static int detect_driver(HANDLE disk, HANDLE port, uint8_t* identify, LogBlock* log,
                         HANDLE* command_handle) {
    if (inbox_identify_controller(disk, identify)) {
        g_transport = TRANSPORT_INBOX;
        report(log, "Driver  : W10\n");
        *command_handle = disk;
        return 1;
    }
    if (probe_ofa(port, identify)) {
        g_transport = TRANSPORT_OFA;
        report(log, "Driver  : OFA\n");
        *command_handle = port;
        return 1;
    }
    return 0;
}

int detect_transport(HANDLE disk, HANDLE port, uint8_t* identify, LogBlock* log,
                     HANDLE* command_handle) {
    g_old_asmedia = 0;
    if (g_is_usb == 1) {
        const int kind = detect_bridge(disk, identify, log);
        if (kind != TRANSPORT_NONE) {
            g_transport = static_cast<uint8_t>(kind);
            report(log, "Bridge  : %s\n", bridge_name(g_transport));
            *command_handle = disk;
            return 1;
        }
    } else if (detect_driver(disk, port, identify, log, command_handle)) {
        return 1;
    }
    printf("Identify error!\n");
    return 0;
}
