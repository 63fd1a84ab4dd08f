// The NVMe controller behind a drive: Identify (controller, namespace 1) and
// Format NVM, on the state a host file describes. Every model that reaches a
// controller (driver or bridge) hands it a 64-byte submission entry and gets
// back the completion status, the data and the time the controller spent.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/host.h"
#include "sim/media.h"

constexpr uint32_t NVME_ENTRY_SIZE = 64;
constexpr uint32_t NVME_COMPLETION_SIZE = 16;
constexpr uint32_t NVME_IDENTIFY_SIZE = 4096;

constexpr uint8_t NVME_ADMIN_IDENTIFY = 0x06;
constexpr uint8_t NVME_ADMIN_FORMAT_NVM = 0x80;

// Completion status as (SCT << 8) | SC.
constexpr uint16_t NVME_SC_SUCCESS = 0x000;
constexpr uint16_t NVME_SC_INVALID_OPCODE = 0x001;
constexpr uint16_t NVME_SC_INVALID_FIELD = 0x002;
constexpr uint16_t NVME_SC_INVALID_NAMESPACE = 0x00B;
constexpr uint16_t NVME_SC_INVALID_FORMAT = 0x10A;

// One namespace and, unless `owner` names another, the controller it
// belongs to. Drives that are namespaces of one controller each hold their
// namespace here (format, size, protection, media); the controller's own
// state (identity, completion, sanitize) is its owner's.
struct Controller {
    ControllerConfig config;
    uint8_t flbas; // format in use
    uint64_t nsze; // blocks of that format; NCAP and NUSE equal it
    uint8_t dps;   // protection in use (DPS)
    uint32_t nsid = 1;
    Controller* owner = nullptr; // the controller's state; null: this one
    // Owner only: its namespaces; empty for a controller of one namespace,
    // this one.
    std::vector<Controller*> namespaces;
    // The completion entry of the last command executed, as the controller
    // posts it: dword 0 (no command here has a result), dwords 1 and 2 zero,
    // dword 3 the command identifier, the phase tag and the status in bits
    // 31..17. `executed` is false until the first command.
    bool executed = false;
    uint8_t completion[NVME_COMPLETION_SIZE] = {};
    // Sanitize (sim/sanitize.h): the log's SSTAT and SCDW10, and the
    // operation that runs from `sanitize_start_ms` on the simulated clock
    // (before 0 for one found in progress) for `sanitize_total_ms`.
    uint16_t sstat = 0;
    uint32_t scdw10 = 0;
    bool sanitizing = false;
    bool sanitize_begun_here = false; // by a command of this run
    int64_t sanitize_start_ms = 0;
    uint32_t sanitize_total_ms = 0;
    Media media; // what the namespace holds
};

// How the data of a command moves: what a bridge or driver checks its data
// phase against.
enum NvmeTransfer { NVME_XFER_NONE, NVME_XFER_FROM_DEVICE, NVME_XFER_ANY };

struct NvmeCompletion {
    uint16_t status;           // (SCT << 8) | SC
    uint32_t device_ms;        // time the controller spent on the command
    std::vector<uint8_t> data; // data for the host (empty when none)
};

Controller controller_make(const ControllerConfig& config);

// The controller a namespace belongs to.
Controller& controller_owner(Controller& controller);

// The data a command moves and its exact length (0 when none). Opcodes the
// controller does not know report NVME_XFER_ANY: the controller refuses them
// itself.
NvmeTransfer controller_transfer(const uint8_t* entry, uint32_t* length);

// The direction of a bridge's data phase as the host states it; the values
// are the direction codes the ASMedia and Realtek CDBs carry.
enum HostTransfer { HOST_XFER_NONE = 0, HOST_XFER_FROM_DEVICE = 1, HOST_XFER_TO_DEVICE = 2 };

// Whether a data phase of `direction` and `length` bytes fits the command in
// `entry`: a command without data needs no data and length 0, a reading
// command exactly its data length from the device. Commands the controller
// does not know fit any data phase (the controller refuses them itself).
bool controller_transfer_fits(const uint8_t* entry, HostTransfer direction, uint32_t length);

// Whether a submission entry leaves zero what a bridge or driver fills in
// itself: the fused-operation and PRP/SGL bits (dword 0 bits 15..8) and
// dwords 2..9 (reserved, metadata and data pointers). Values there would be
// misread as pointers or as a fused pair.
bool controller_entry_plain(const uint8_t* entry);

// Runs one admin command given as a 64-byte submission entry (dword 0 opcode,
// dword 1 nsid, dwords 10..15 at bytes 40..63) and records its completion.
NvmeCompletion controller_execute(Controller& controller, const uint8_t* entry);

// NLBAF as reported by Identify Namespace.
uint8_t controller_nlbaf(const Controller& controller);
