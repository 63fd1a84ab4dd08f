// Model registry: path name -> factory, from model_list.h.
#include "sim/model.h"

#include <cstring>

#define SIM_MODEL(path, factory) std::unique_ptr<Model> factory();
#include "sim/model_list.h"
#undef SIM_MODEL

namespace {

struct Registration {
    const char* path;
    std::unique_ptr<Model> (*make)();
};

const Registration REGISTRY[] = {
#define SIM_MODEL(path, factory) {path, factory},
#include "sim/model_list.h"
#undef SIM_MODEL
};

} // namespace

ScsiResult scsi_illegal_request() {
    ScsiResult r;
    r.status = SCSI_STATUS_CHECK_CONDITION;
    r.sense_key = SENSE_KEY_ILLEGAL_REQUEST;
    r.asc = 0x20; // INVALID COMMAND OPERATION CODE
    return r;
}

std::unique_ptr<Model> make_model(const std::string& path) {
    for (const Registration& r : REGISTRY)
        if (path == r.path)
            return r.make();
    return std::make_unique<Model>();
}
