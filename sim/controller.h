// The NVMe controller behind a drive: Identify (controller, namespace 1) and
// Format NVM, on the state a host file describes. Every model that reaches a
// controller (driver or bridge) hands it a 64-byte submission entry and gets
// back the completion status, the data and the time the controller spent.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/host.h"

constexpr uint32_t NVME_ENTRY_SIZE = 64;
constexpr uint32_t NVME_IDENTIFY_SIZE = 4096;

constexpr uint8_t NVME_ADMIN_IDENTIFY = 0x06;
constexpr uint8_t NVME_ADMIN_FORMAT_NVM = 0x80;

// Completion status as (SCT << 8) | SC.
constexpr uint16_t NVME_SC_SUCCESS = 0x000;
constexpr uint16_t NVME_SC_INVALID_OPCODE = 0x001;
constexpr uint16_t NVME_SC_INVALID_FIELD = 0x002;
constexpr uint16_t NVME_SC_INVALID_NAMESPACE = 0x00B;
constexpr uint16_t NVME_SC_INVALID_FORMAT = 0x10A;

struct Controller {
    ControllerConfig config;
    uint8_t flbas; // format in use
    uint64_t nsze; // blocks of that format; NCAP and NUSE equal it
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

// The data a command moves and its exact length (0 when none). Opcodes the
// controller does not know report NVME_XFER_ANY: the controller refuses them
// itself.
NvmeTransfer controller_transfer(const uint8_t* entry, uint32_t* length);

// Runs one admin command given as a 64-byte submission entry (dword 0 opcode,
// dword 1 nsid, dwords 10..15 at bytes 40..63).
NvmeCompletion controller_execute(Controller& controller, const uint8_t* entry);

// NLBAF as reported by Identify Namespace.
uint8_t controller_nlbaf(const Controller& controller);
