// Identify data as the NVMe standard lays it out, and Format NVM that keeps
// the namespace's byte capacity.
#include "sim/controller.h"

#include "platform/wire.h"
#include "sim/sanitize.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t CQE_PHASE = 1u << 16;
// Exit status of a process the simulated host ends during Format NVM.
constexpr int ABORT_IN_FORMAT_STATUS = 70;
// ... and at the first Sanitize Status log read after a sanitize began.
constexpr int ABORT_IN_SANITIZE_STATUS = 70;

// ASCII field padded with spaces, no terminator (the loader bounds the length).
void put_text(uint8_t* p, uint32_t off, uint32_t width, const std::string& text) {
    std::memset(p + off, ' ', width);
    std::memcpy(p + off, text.data(), text.size() < width ? text.size() : width);
}

std::vector<uint8_t> identify_controller(const Controller& c) {
    std::vector<uint8_t> d(NVME_IDENTIFY_SIZE, 0);
    uint8_t* p = d.data();
    const size_t shown = c.namespaces.empty() ? 1 : c.namespaces.size();
    put_le16(p, 0, c.config.vid);
    put_le16(p, 2, c.config.ssvid);
    put_text(p, 4, 20, c.config.serial);
    put_text(p, 24, 40, c.config.model);
    put_text(p, 64, 8, c.config.firmware);
    put_u8(p, 72, 6);                                   // RAB
    put_u8(p, 73, static_cast<uint8_t>(c.config.ieee)); // IEEE OUI, its last byte first
    put_u8(p, 74, static_cast<uint8_t>(c.config.ieee >> 8));
    put_u8(p, 75, static_cast<uint8_t>(c.config.ieee >> 16));
    put_u8(p, 77, 5);                   // MDTS: 128 KiB with 4 KiB pages
    put_le16(p, 78, 1);                 // CNTLID
    put_le32(p, 80, 0x00010400);        // VER 1.4
    put_le16(p, 256, 0x0002);           // OACS: Format NVM supported
    put_u8(p, 258, 3);                  // ACL
    put_u8(p, 259, 3);                  // AERL
    put_u8(p, 260, 0x02);               // FRMW: one slot
    put_u8(p, 261, 0x02);               // LPA
    put_u8(p, 262, 63);                 // ELPE
    put_le16(p, 266, 0x0157);           // WCTEMP 343 K
    put_le16(p, 268, 0x0160);           // CCTEMP 352 K
    put_le32(p, 328, c.config.sanicap); // SANICAP
    put_u8(p, 512, 0x66);               // SQES
    put_u8(p, 513, 0x44);               // CQES
    put_le32(p, 516,
             c.config.nn >= 0 ? static_cast<uint32_t>(c.config.nn)
                              : static_cast<uint32_t>(shown)); // NN
    put_le16(p, 520, 0x0006);     // ONCS: write zeroes, dataset management
    put_u8(p, 524, c.config.fna); // FNA
    put_u8(p, 525, 0x01);         // VWC
    put_le16(p, 2048, 2500);      // power state 0: 25.00 W
    return d;
}

std::vector<uint8_t> identify_namespace(const Controller& c) {
    std::vector<uint8_t> d(NVME_IDENTIFY_SIZE, 0);
    uint8_t* p = d.data();
    put_le64(p, 0, c.nsze);
    put_le64(p, 8, c.nsze);
    put_le64(p, 16, c.nsze);
    put_u8(p, 25, controller_nlbaf(c));
    put_u8(p, 26, c.flbas);
    put_u8(p, 29, c.dps);
    put_u8(p, 33, c.config.dlfeat);
    for (size_t i = 0; i < c.config.lbads.size(); ++i) {
        uint8_t lbads = c.config.lbads[i];
        if (i < c.config.ms.size())
            put_le16(p, static_cast<uint32_t>(128 + 4 * i), c.config.ms[i]);
        put_u8(p, static_cast<uint32_t>(130 + 4 * i), lbads);
        put_u8(p, static_cast<uint32_t>(131 + 4 * i), lbads >= 12 ? 0 : 2); // RP
    }
    put_le64(p, 120, 0x5645544C00000000ull | c.nsze); // EUI64
    return d;
}

// The namespaces of a controller, by NSID order.
std::vector<Controller*> namespaces_of(Controller& c) {
    if (c.namespaces.empty())
        return std::vector<Controller*>(1, &c);
    return c.namespaces;
}

// The namespace `nsid` names; null for none.
Controller* namespace_of(Controller& c, uint32_t nsid) {
    for (Controller* ns : namespaces_of(c))
        if (ns->nsid == nsid)
            return ns;
    return nullptr;
}

// Whether namespace `ns` can take format `lbaf` with protection type `pi`:
// the format must exist, and protection information needs 8 bytes of
// metadata per block.
uint16_t format_fits(const Controller& ns, uint32_t lbaf, uint32_t pi) {
    if (lbaf > controller_nlbaf(ns) || lbaf >= ns.config.lbads.size())
        return NVME_SC_INVALID_FORMAT;
    const uint32_t ms = lbaf < ns.config.ms.size() ? ns.config.ms[lbaf] : 0;
    if (pi != 0 && ms < 8)
        return NVME_SC_INVALID_FIELD;
    return NVME_SC_SUCCESS;
}

// Formats one namespace: byte capacity kept, the format, MSET, PI and PIL
// as sent, the media erased as the controller's erase effect says.
void format_namespace(Controller& ns, uint32_t cdw10, const ControllerConfig& owner) {
    const uint32_t lbaf = (cdw10 & 0xF) | ((cdw10 >> 12) & 0x3) << 4;
    unsigned old_shift = ns.config.lbads[flbas_index(ns.flbas)];
    unsigned new_shift = ns.config.lbads[lbaf];
    // Byte capacity kept; shifting in two steps avoids overflowing 64 bits.
    if (new_shift >= old_shift)
        ns.nsze >>= (new_shift - old_shift);
    else
        ns.nsze <<= (old_shift - new_shift);
    ns.flbas = static_cast<uint8_t>((lbaf & 0xF) | (cdw10 & 0x10) | (lbaf >> 4) << 5);
    ns.dps = static_cast<uint8_t>((cdw10 >> 5) & 0xF); // PI bits 2:0, PIL bit 3
    media_erase(ns, owner);
}

uint16_t format(Controller& c, uint32_t nsid, uint32_t cdw10, uint32_t* device_ms) {
    // NVMe 2.0: the index's bits 5:4 in bits 13:12.
    uint32_t lbaf = (cdw10 & 0xF) | ((cdw10 >> 12) & 0x3) << 4;
    uint32_t pi = (cdw10 >> 5) & 0x7;
    uint32_t ses = (cdw10 >> 9) & 0x7;
    *device_ms = 0;
    Controller* named = namespace_of(c, nsid);
    if (!named && nsid != 0xFFFFFFFFu)
        return NVME_SC_INVALID_NAMESPACE;
    // FNA bit 0: a format applies to every namespace, as NSID FFFFFFFFh asks.
    const bool every = !named || (c.config.fna & 1);
    const std::vector<Controller*> targets =
        every ? namespaces_of(c) : std::vector<Controller*>(1, named);
    for (const Controller* ns : targets)
        if (const uint16_t status = format_fits(*ns, lbaf, pi))
            return status;
    if (ses > 2)
        return NVME_SC_INVALID_FIELD;
    *device_ms = c.config.format_ms;
    if (c.config.format_status != 0)
        return c.config.format_status;
    for (Controller* ns : targets)
        format_namespace(*ns, cdw10, c.config);
    // FNA bit 1: a secure erase reaches every namespace.
    if (!every && (c.config.fna & 2) && (ses == 1 || ses == 2))
        for (Controller* ns : namespaces_of(c))
            if (ns != named)
                media_erase(*ns, c.config);
    return NVME_SC_SUCCESS;
}

// Posts the completion entry of a command.
void post_completion(Controller& c, const uint8_t* entry, uint16_t status) {
    c.executed = true;
    std::memset(c.completion, 0, sizeof c.completion);
    put_le32(c.completion, 12,
             (get_le32(entry, 0) >> 16) | CQE_PHASE | static_cast<uint32_t>(status) << 17);
}

} // namespace

Controller controller_make(const ControllerConfig& config) {
    Controller c;
    c.config = config;
    c.flbas = config.flbas;
    c.nsze = config.nsze;
    c.dps = config.dps;
    sanitize_found(c);
    return c;
}

Controller& controller_owner(Controller& c) {
    return c.owner ? *c.owner : c;
}

uint8_t controller_nlbaf(const Controller& c) {
    if (c.config.nlbaf >= 0)
        return static_cast<uint8_t>(c.config.nlbaf);
    return static_cast<uint8_t>(c.config.lbads.size() - 1);
}

NvmeTransfer controller_transfer(const uint8_t* entry, uint32_t* length) {
    switch (entry[0]) {
    case NVME_ADMIN_IDENTIFY:
        *length = NVME_IDENTIFY_SIZE;
        return NVME_XFER_FROM_DEVICE;
    case NVME_ADMIN_FORMAT_NVM:
    case NVME_ADMIN_SANITIZE:
        *length = 0;
        return NVME_XFER_NONE;
    case NVME_ADMIN_GET_LOG_PAGE: {
        // NUMDL (CDW10 bits 31:16) and NUMDU (CDW11 bits 15:0): dwords from 0.
        const uint64_t dwords = ((get_le32(entry, 40) >> 16) |
                                 (static_cast<uint64_t>(get_le32(entry, 44) & 0xFFFF) << 16)) +
                                1;
        *length = static_cast<uint32_t>(std::min<uint64_t>(dwords * 4, UINT32_MAX));
        return NVME_XFER_FROM_DEVICE;
    }
    default:
        *length = 0;
        return NVME_XFER_ANY;
    }
}

bool controller_transfer_fits(const uint8_t* entry, HostTransfer direction, uint32_t length) {
    uint32_t need = 0;
    switch (controller_transfer(entry, &need)) {
    case NVME_XFER_NONE:
        return direction == HOST_XFER_NONE && length == 0;
    case NVME_XFER_FROM_DEVICE:
        return direction == HOST_XFER_FROM_DEVICE && length == need;
    case NVME_XFER_ANY:
        break;
    }
    return true;
}

bool controller_entry_plain(const uint8_t* entry) {
    return entry[1] == 0 && std::all_of(entry + 8, entry + 40, [](uint8_t b) { return b == 0; });
}

NvmeCompletion controller_execute(Controller& reached, const uint8_t* entry) {
    // Whichever namespace's drive carried it, the command runs on the
    // controller.
    Controller& c = controller_owner(reached);
    NvmeCompletion done{NVME_SC_SUCCESS, 0, {}};
    uint32_t nsid = get_le32(entry, 4);
    uint32_t cdw10 = get_le32(entry, 40);
    const uint8_t opcode = entry[0];
    const bool allowed_in_sanitize =
        opcode == NVME_ADMIN_IDENTIFY || opcode == NVME_ADMIN_GET_LOG_PAGE;
    if (controller_sanitizing(c) && !allowed_in_sanitize) {
        done.status = NVME_SC_SANITIZE_IN_PROGRESS;
        post_completion(c, entry, done.status);
        return done;
    }
    switch (opcode) {
    case NVME_ADMIN_IDENTIFY: {
        uint32_t cns = cdw10 & 0xFF;
        const Controller* ns = cns == 0 ? namespace_of(c, nsid) : nullptr;
        if (cns == 1 && nsid == 0)
            done.data = identify_controller(c);
        else if (ns)
            done.data = identify_namespace(*ns);
        else if (cns == 0)
            done.status = NVME_SC_INVALID_NAMESPACE;
        else
            done.status = NVME_SC_INVALID_FIELD;
        break;
    }
    case NVME_ADMIN_FORMAT_NVM:
        // A crash or a power loss while the drive formats: nothing the
        // program has not handed to the system yet survives.
        if (c.config.abort_in_format)
            std::_Exit(ABORT_IN_FORMAT_STATUS);
        done.status = format(c, nsid, cdw10, &done.device_ms);
        break;
    case NVME_ADMIN_SANITIZE:
        done.status = sanitize_start(c, cdw10);
        break;
    case NVME_ADMIN_GET_LOG_PAGE: {
        if ((cdw10 & 0xFF) != NVME_LOG_SANITIZE_STATUS) {
            done.status = NVME_SC_INVALID_LOG_PAGE;
            break;
        }
        // A crash or a power loss while the drive sanitizes.
        if (c.config.abort_in_sanitize && c.sanitize_begun_here)
            std::_Exit(ABORT_IN_SANITIZE_STATUS);
        uint32_t length = 0;
        controller_transfer(entry, &length);
        done.data = sanitize_log(c);
        done.data.resize(length, 0);
        break;
    }
    default:
        done.status = NVME_SC_INVALID_OPCODE;
        break;
    }
    post_completion(c, entry, done.status);
    return done;
}
