// What stands behind a simulated drive: a driver or a USB bridge model, and
// the NVMe controller it reaches.
//
// Model interface. The stack (stack.cpp) owns the handles, the trace, the
// clock and fault injection; disk.cpp answers the requests every drive
// answers (device descriptor, SCSI address) and scsi.cpp decodes
// IOCTL_SCSI_PASS_THROUGH. A model only sees what reaches it:
//
//   control()  every device-control request on the drive's disk handle
//              (port == false) or its SCSI port handle (port == true), before
//              the common handling. Return true when the request is the
//              model's own and fill the reply; false hands it on (disk: the
//              common requests, else error 1; port: error 1). A driver model
//              (inbox property query, OFA miniport) lives here.
//   scsi()     a CDB out of a well-formed pass-through envelope on the disk
//              handle. Return true when the device knows the command and fill
//              the result; false answers CHECK CONDITION, ILLEGAL REQUEST,
//              no data. A bridge model lives here.
//
// Both report the device time they spent and the timeout the request carried
// (the envelope's TimeOutValue is filled in by scsi.cpp); the stack fails a
// request whose device time exceeds its timeout with error 121 after moving
// the clock by the timeout. The controller's state change stays.
//
// Adding a model: one file sim/<name>.cpp defining a factory
// `std::unique_ptr<Model> make_<name>_model()`, and one line in
// sim/model_list.h.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/controller.h"
#include "sim/host.h"

constexpr uint32_t ERROR_SEM_TIMEOUT_CODE = 121;

class Model;

struct Drive {
    DriveConfig config;
    Controller controller;
    std::unique_ptr<Model> model;
    uint32_t requests = 0;         // device-control requests so far, all handles
    uint32_t reads = 0;            // reads so far, all handles
    uint32_t windows_sector = 512; // the sector size Windows sees
};

// A device-control request as the driver receives it: the input is a copy
// made before anything is answered, so the reply may reuse the caller's
// buffer.
struct Request {
    uint32_t code;
    const uint8_t* in;
    uint32_t in_size;
    uint32_t out_size;
};

struct Reply {
    bool ok = false;
    uint32_t error = 0;       // last-error code when !ok
    std::vector<uint8_t> out; // bytes for the output buffer (at most out_size)
    uint32_t device_ms = 0;   // time spent in the device
    bool has_timeout = false; // whether the request carries a timeout
    uint32_t timeout_s = 0;   // that timeout, seconds
};

inline Reply reply_error(uint32_t error) {
    Reply r;
    r.error = error;
    return r;
}

// A SCSI command as a bridge receives it from the envelope.
struct ScsiCommand {
    uint8_t cdb[16];
    uint32_t cdb_length;
    uint8_t data_in;     // 0 out, 1 in, 2 unspecified
    const uint8_t* data; // DataTransferLength bytes sent with the command
    uint32_t length;     // DataTransferLength
};

// SCSI status codes and sense keys used by the models.
constexpr uint8_t SCSI_STATUS_GOOD = 0x00;
constexpr uint8_t SCSI_STATUS_CHECK_CONDITION = 0x02;
constexpr uint8_t SENSE_KEY_HARDWARE_ERROR = 0x04;
constexpr uint8_t SENSE_KEY_ILLEGAL_REQUEST = 0x05;

struct ScsiResult {
    uint8_t status = SCSI_STATUS_GOOD;
    uint8_t sense_key = 0, asc = 0, ascq = 0; // used with CHECK CONDITION
    std::vector<uint8_t> data;                // data for the host (from-device)
    uint32_t device_ms = 0;
};

// CHECK CONDITION with ILLEGAL REQUEST / INVALID COMMAND OPERATION CODE.
ScsiResult scsi_illegal_request();

class Model {
  public:
    virtual ~Model() = default;
    virtual bool control(Drive&, bool /*port*/, const Request&, Reply*) { return false; }
    virtual bool scsi(Drive&, const ScsiCommand&, ScsiResult*) { return false; }
};

// The model registered for `path`; a model that answers nothing when there is
// none (the `none` path and paths still without a model).
std::unique_ptr<Model> make_model(const std::string& path);

// Stands `model` behind drive `number` of the loaded host in place of the one
// its path names, until the next load; for tests that need a driver or bridge
// to answer in a way no host file can ask for. False when there is no such
// drive.
bool sim_replace_model(int number, std::unique_ptr<Model> model);
