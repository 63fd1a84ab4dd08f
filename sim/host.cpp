// Host file loader: JSON text -> HostConfig, with every check that makes a
// host file invalid. Parse and type errors of the JSON library are caught
// here and become the one-line reason; nothing escapes.
#include "sim/host.h"

#include "sim/calendar.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <set>

using nlohmann::json;

namespace {

struct PathKind {
    const char* name;
    bool bridge;
};

// Everything that can stand behind a drive. A path without a model of its
// own yet answers like `none` (see models.cpp).
const PathKind PATH_KINDS[] = {
    {"inbox", false},         {"ofa", false},    {"jmicron", true}, {"asmedia", true},
    {"asmedia-legacy", true}, {"realtek", true}, {"none", false},
};

// Short rendering of a JSON value for messages.
std::string shown(const json& value) {
    std::string text = value.dump();
    if (text.size() > 40)
        text = text.substr(0, 37) + "...";
    return text;
}

// One object being read ("drive 2", "os", ...) and the first problem found.
struct Reader {
    const json& object;
    std::string where;
    std::string* problem;

    bool fail(const std::string& what) {
        *problem = where.empty() ? what : where + ": " + what;
        return false;
    }

    const json* find(const char* key) {
        auto it = object.find(key);
        return it == object.end() ? nullptr : &*it;
    }

    // Unsigned integer in 0..max; an absent field leaves `out` as it is.
    bool unsigned_field(const char* key, uint64_t max, uint64_t* out, uint64_t min = 0) {
        const json* value = find(key);
        if (!value)
            return true;
        bool ok = false;
        if (value->is_number_unsigned()) {
            uint64_t v = value->get<uint64_t>();
            ok = v >= min && v <= max;
            if (ok)
                *out = v;
        }
        if (!ok)
            return fail("\"" + std::string(key) + "\" must be an integer from " +
                        std::to_string(min) + " to " + std::to_string(max) + ", not " +
                        shown(*value));
        return true;
    }

    template <typename T> bool uint_field(const char* key, uint64_t max, T* out, uint64_t min = 0) {
        uint64_t v = *out;
        if (!unsigned_field(key, max, &v, min))
            return false;
        *out = static_cast<T>(v);
        return true;
    }

    bool bool_field(const char* key, bool* out) {
        const json* value = find(key);
        if (!value)
            return true;
        if (!value->is_boolean())
            return fail("\"" + std::string(key) + "\" must be true or false, not " + shown(*value));
        *out = value->get<bool>();
        return true;
    }

    // Text of at most `max_size` bytes without NUL; `ascii` limits it to
    // 0x01..0x7F (what Identify fields hold, control characters included, as a
    // faulty device could report them). With `nullable`, null clears
    // `present`.
    bool text_field(const char* key, size_t max_size, bool ascii, bool nullable, std::string* out,
                    bool* present = nullptr) {
        const json* value = find(key);
        if (!value)
            return true;
        if (nullable && value->is_null()) {
            *present = false;
            out->clear();
            return true;
        }
        if (!value->is_string())
            return fail("\"" + std::string(key) + "\" must be a text" +
                        (nullable ? " or null" : "") + ", not " + shown(*value));
        std::string text = value->get<std::string>();
        if (text.size() > max_size)
            return fail("\"" + std::string(key) + "\" is " + std::to_string(text.size()) +
                        " bytes long, more than " + std::to_string(max_size));
        for (unsigned char c : text) {
            if (c == 0 || (ascii && c > 0x7F))
                return fail("\"" + std::string(key) + "\" holds a character that " +
                            (c == 0 ? "is NUL" : "is not ASCII"));
        }
        *out = text;
        if (present)
            *present = true;
        return true;
    }

    bool object_field(const char* key, const json** out) {
        *out = find(key);
        if (*out && !(*out)->is_object())
            return fail("\"" + std::string(key) + "\" must be an object, not " + shown(**out));
        return true;
    }
};

bool read_os(const json& object, OsConfig* os, std::string* problem) {
    Reader r{object, "os", problem};
    return r.uint_field("major", UINT32_MAX, &os->major) &&
           r.uint_field("minor", UINT32_MAX, &os->minor) &&
           r.uint_field("build", UINT32_MAX, &os->build) &&
           r.text_field("csd", 127, false, false, &os->csd) &&
           r.bool_field("ex_fails", &os->ex_fails) && r.bool_field("fails", &os->fails);
}

bool read_sanitize_times(Reader& r, SanitizeTimes* times) {
    const json* object = nullptr;
    if (!r.object_field("sanitize_ms", &object))
        return false;
    if (!object)
        return true;
    Reader t{*object, r.where + ": sanitize_ms", r.problem};
    return t.uint_field("block", UINT32_MAX, &times->block) &&
           t.uint_field("crypto", UINT32_MAX, &times->crypto) &&
           t.uint_field("overwrite", UINT32_MAX, &times->overwrite);
}

// SCDW10 of an action named as the tool sends it (AUSE, one pass of
// overwrite); 0 for anything else.
uint32_t named_action_cdw10(const json& action) {
    const uint32_t AUSE = 1u << 3;
    if (action == "block")
        return 2 | AUSE;
    if (action == "crypto")
        return 4 | AUSE;
    if (action == "overwrite")
        return 3 | AUSE | (1u << 4);
    return 0;
}

// "never", "completed", "failed"; {"action": ..., "remaining_ms": n}: a
// sanitize in progress, its action named or a raw SANACT from 0 to 7; or
// {"status": "completed" or "failed", "action": ...}: the log an earlier
// sanitize of that action left.
bool read_sanitize_state(Reader& r, SanitizeState* state) {
    const json* value = r.find("sanitize_state");
    if (!value)
        return true;
    const std::string wrong = "\"sanitize_state\" must be \"never\", \"completed\", \"failed\" "
                              "or an object with \"action\" and \"remaining_ms\" or \"status\", "
                              "not ";
    if (value->is_string()) {
        const std::string text = value->get<std::string>();
        const uint8_t statuses[] = {0, 1, 3};
        const char* const names[] = {"never", "completed", "failed"};
        for (int i = 0; i < 3; ++i) {
            if (text == names[i]) {
                state->status = statuses[i];
                return true;
            }
        }
        return r.fail(wrong + shown(*value));
    }
    if (!value->is_object() || !value->contains("action"))
        return r.fail(wrong + shown(*value));
    const json& action = value->at("action");
    if (const json* status = value->contains("status") ? &value->at("status") : nullptr) {
        if (*status != "completed" && *status != "failed")
            return r.fail("\"sanitize_state\": \"status\" must be \"completed\" or \"failed\", "
                          "not " +
                          shown(*status));
        if (value->contains("remaining_ms"))
            return r.fail("\"sanitize_state\": \"remaining_ms\" is for a sanitize in progress, "
                          "not one with a \"status\"");
        state->cdw10 = named_action_cdw10(action);
        if (!state->cdw10)
            return r.fail("\"sanitize_state\": \"action\" must be \"block\", \"crypto\" or "
                          "\"overwrite\", not " +
                          shown(action));
        state->status = *status == "completed" ? 1 : 3;
        return true;
    }
    if (action.is_number_unsigned() && action.get<uint64_t>() <= 7)
        state->cdw10 = static_cast<uint32_t>(action.get<uint64_t>());
    else if (!(state->cdw10 = named_action_cdw10(action)))
        return r.fail("\"sanitize_state\": \"action\" must be \"block\", \"crypto\", "
                      "\"overwrite\" or a number from 0 to 7, not " +
                      shown(action));
    Reader s{*value, r.where + ": sanitize_state", r.problem};
    state->status = 2;
    return s.uint_field("remaining_ms", UINT32_MAX, &state->remaining_ms);
}

// One of `names`, by its position in the list.
bool choice_field(Reader& r, const char* key, const std::vector<const char*>& names, int* out) {
    const json* value = r.find(key);
    if (!value)
        return true;
    for (size_t i = 0; i < names.size(); ++i) {
        if (value->is_string() && value->get<std::string>() == names[i]) {
            *out = static_cast<int>(i);
            return true;
        }
    }
    std::string list;
    for (const char* name : names)
        list += list.empty() ? std::string("\"") + name + "\"" : std::string(", \"") + name + "\"";
    return r.fail("\"" + std::string(key) + "\" must be one of " + list + ", not " + shown(*value));
}

// `media`, `erase_effect` and `sector_refresh`.
bool read_media(Reader& r, ControllerConfig* c) {
    if (const json* media = r.find("media")) {
        if (media->is_number() && media->get<double>() >= 0.0 && media->get<double>() <= 1.0)
            c->media_share = media->get<double>();
        else if (*media == "data" || *media == "blank")
            c->media_share = *media == "data" ? 1.0 : 0.0;
        else
            return r.fail("\"media\" must be \"data\", \"blank\" or a number from 0 to 1, not " +
                          shown(*media));
    }
    int effect = c->erase_effect;
    int replug = c->sector_replug;
    const json* keep = r.find("erase_effect");
    if (keep && keep->is_object()) {
        // {"keep_share": q}: a share of the units keeps its content.
        const json* share = keep->contains("keep_share") ? &(*keep)["keep_share"] : nullptr;
        if (keep->size() != 1 || !share || !share->is_number() || share->get<double>() < 0.0 ||
            share->get<double>() > 1.0)
            return r.fail("\"erase_effect\" must be {\"keep_share\": a number from 0 to 1}, "
                          "not " +
                          shown(*keep));
        c->keep_share = share->get<double>();
        effect = ERASE_KEEP_SHARE;
    } else if (!choice_field(r, "erase_effect", {"deallocate", "random", "none", "partial"},
                             &effect)) {
        return false;
    }
    if (!choice_field(r, "sector_refresh", {"update", "replug"}, &replug))
        return false;
    c->erase_effect = static_cast<EraseEffect>(effect);
    c->sector_replug = replug == 1;
    return true;
}

// The inbox driver's protocol command: `protocol_sanitize`, and
// `protocol_return_status`, null or a ReturnStatus.
bool read_protocol_fields(Reader& r, ControllerConfig* c) {
    if (!r.bool_field("protocol_sanitize", &c->protocol_sanitize))
        return false;
    const json* status = r.find("protocol_return_status");
    if (!status || status->is_null())
        return true;
    uint32_t value = 0;
    if (!r.uint_field("protocol_return_status", UINT32_MAX, &value))
        return r.fail("\"protocol_return_status\" must be null or an integer from 0 to " +
                      std::to_string(UINT32_MAX) + ", not " + shown(*status));
    c->protocol_return_status = value;
    return true;
}

bool read_controller(const json& object, const std::string& where, ControllerConfig* c,
                     std::string* problem) {
    Reader r{object, where + ": controller", problem};
    if (!r.text_field("model", 40, true, false, &c->model) ||
        !r.text_field("serial", 20, true, false, &c->serial) ||
        !r.text_field("firmware", 8, true, false, &c->firmware) ||
        !r.uint_field("nsze", UINT64_MAX, &c->nsze) ||
        !r.uint_field("format_ms", UINT32_MAX, &c->format_ms) ||
        !r.uint_field("format_status", 0x7FF, &c->format_status) ||
        !r.uint_field("flbas", 255, &c->flbas) ||
        !r.bool_field("abort_in_format", &c->abort_in_format) ||
        !r.uint_field("sanicap", UINT32_MAX, &c->sanicap) ||
        !r.bool_field("sanitize_estimates", &c->sanitize_estimates) ||
        !r.bool_field("sanitize_fails", &c->sanitize_fails) ||
        !r.bool_field("sanitize_stalls", &c->sanitize_stalls) ||
        !r.bool_field("abort_in_sanitize", &c->abort_in_sanitize) ||
        !read_sanitize_times(r, &c->sanitize_ms) || !read_sanitize_state(r, &c->sanitize_state) ||
        !read_protocol_fields(r, c))
        return false;
    // Sanitize outcomes that must not be trusted.
    if (!r.bool_field("sanitize_noop", &c->sanitize_noop))
        return false;
    if (const json* lbads = r.find("lbads")) {
        if (!lbads->is_array() || lbads->empty() || lbads->size() > 64)
            return r.fail("\"lbads\" must be a list of 1 to 64 integers, not " + shown(*lbads));
        c->lbads.clear();
        for (const json& entry : *lbads) {
            if (!entry.is_number_unsigned() || entry.get<uint64_t>() > 31)
                return r.fail("\"lbads\" entries must be integers from 0 to 31, not " +
                              shown(entry));
            c->lbads.push_back(static_cast<uint8_t>(entry.get<uint64_t>()));
        }
    }
    if (!r.uint_field("dlfeat", 255, &c->dlfeat) || !read_media(r, c) ||
        !r.uint_field("vid", 0xFFFF, &c->vid) || !r.uint_field("ssvid", 0xFFFF, &c->ssvid) ||
        !r.uint_field("ieee", 0xFFFFFF, &c->ieee))
        return false;
    // Namespaces and protection.
    if (!r.uint_field("nn", UINT32_MAX, &c->nn) || !r.uint_field("fna", 255, &c->fna) ||
        !r.uint_field("dps", 255, &c->dps))
        return false;
    if (const json* nlbaf = r.find("nlbaf")) {
        if (nlbaf->is_null())
            c->nlbaf = -1;
        else if (nlbaf->is_number_unsigned() && nlbaf->get<uint64_t>() <= 63)
            c->nlbaf = static_cast<int>(nlbaf->get<uint64_t>());
        else
            return r.fail("\"nlbaf\" must be null or an integer from 0 to 63, not " +
                          shown(*nlbaf));
    }
    if (const json* ms = r.find("ms")) {
        if (!ms->is_array() || ms->size() > c->lbads.size())
            return r.fail("\"ms\" must be a list of at most as many integers as \"lbads\", not " +
                          shown(*ms));
        c->ms.clear();
        for (const json& entry : *ms) {
            if (!entry.is_number_unsigned() || entry.get<uint64_t>() > 0xFFFF)
                return r.fail("\"ms\" entries must be integers from 0 to 65535, not " +
                              shown(entry));
            c->ms.push_back(static_cast<uint16_t>(entry.get<uint64_t>()));
        }
    }
    if (flbas_index(c->flbas) >= c->lbads.size())
        return r.fail("\"flbas\" " + std::to_string(c->flbas) + " names no entry of \"lbads\"");
    return true;
}

// A fault list, `fail` or `read_fail`.
bool read_faults(const json& list, const std::string& key, Reader& r,
                 std::vector<FaultConfig>* fail) {
    if (!list.is_array())
        return r.fail("\"" + key + "\" must be a list, not " + shown(list));
    for (const json& entry : list) {
        if (!entry.is_object() || !entry.contains("nth") || !entry.contains("error"))
            return r.fail("\"" + key +
                          "\" entries must be objects with \"nth\" and \"error\", not " +
                          shown(entry));
        Reader e{entry, r.where + ": " + key, r.problem};
        FaultConfig fault{0, 0};
        if (!e.uint_field("nth", UINT32_MAX, &fault.nth, 1) ||
            !e.uint_field("error", UINT32_MAX, &fault.error, 1))
            return false;
        fail->push_back(fault);
    }
    return true;
}

// `read_model`: {"latency_us": n, "mb_s": n}, both given, nothing else; a
// bandwidth of at least 1 MB/s.
bool read_read_model(Reader& r, ReadModel* model) {
    const json* object = nullptr;
    if (!r.object_field("read_model", &object))
        return false;
    if (!object)
        return true;
    if (object->size() != 2 || !object->contains("latency_us") || !object->contains("mb_s"))
        return r.fail("\"read_model\" must hold \"latency_us\" and \"mb_s\" and nothing else, "
                      "not " +
                      shown(*object));
    Reader m{*object, r.where + ": read_model", r.problem};
    model->set = true;
    return m.uint_field("latency_us", UINT32_MAX, &model->latency_us) &&
           m.uint_field("mb_s", UINT32_MAX, &model->mb_s, 1);
}

// The `bridge` object, on the bridge paths alone: elsewhere it would change
// nothing, which the host file's author cannot have meant.
bool read_bridge(Reader& r, bool is_bridge, BridgeConfig* bridge) {
    const json* object = nullptr;
    if (!r.object_field("bridge", &object))
        return false;
    if (!object)
        return true;
    if (!is_bridge)
        return r.fail("\"bridge\" is only for the paths of USB bridges");
    Reader b{*object, r.where + ": bridge", r.problem};
    return b.bool_field("check_condition", &bridge->check_condition) &&
           b.bool_field("completion", &bridge->completion);
}

// A GUID as text, "E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D", into its 16 bytes
// in memory order (the first three groups little-endian).
bool parse_guid(const std::string& text, std::vector<uint8_t>* guid) {
    static const int GROUPS[] = {8, 4, 4, 4, 12};
    std::vector<uint8_t> bytes;
    size_t at = 0;
    for (int g = 0; g < 5; ++g) {
        if (g > 0 && (at >= text.size() || text[at++] != '-'))
            return false;
        for (int i = 0; i < GROUPS[g]; i += 2, at += 2) {
            if (at + 2 > text.size() || !std::isxdigit(static_cast<unsigned char>(text[at])) ||
                !std::isxdigit(static_cast<unsigned char>(text[at + 1])))
                return false;
            bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(at, 2), nullptr, 16)));
        }
    }
    if (at != text.size())
        return false;
    std::reverse(bytes.begin(), bytes.begin() + 4);
    std::reverse(bytes.begin() + 4, bytes.begin() + 6);
    std::reverse(bytes.begin() + 6, bytes.begin() + 8);
    *guid = bytes;
    return true;
}

// `partitions`: {"style": "gpt", "types": [GUID text, ...]} or
// {"style": "mbr", "types": [type byte, ...]}.
bool read_partitions(Reader& r, PartitionTable* table) {
    const json* object = nullptr;
    if (!r.object_field("partitions", &object))
        return false;
    if (!object)
        return true;
    const json* style = object->contains("style") ? &(*object)["style"] : nullptr;
    const json* types = object->contains("types") ? &(*object)["types"] : nullptr;
    if (!style || (*style != "gpt" && *style != "mbr") || !types || !types->is_array())
        return r.fail("\"partitions\" must be {\"style\": \"gpt\" or \"mbr\", \"types\": [...]}, "
                      "not " +
                      shown(*object));
    const bool gpt = *style == "gpt";
    table->style = gpt ? 1 : 0;
    for (const json& type : *types) {
        std::vector<uint8_t> bytes;
        if (gpt && type.is_string() && parse_guid(type.get<std::string>(), &bytes)) {
            table->types.push_back(bytes);
        } else if (!gpt && type.is_number_unsigned() && type.get<uint64_t>() <= 255) {
            table->types.push_back(
                std::vector<uint8_t>(1, static_cast<uint8_t>(type.get<uint64_t>())));
        } else {
            return r.fail(std::string("\"partitions\" types must be ") +
                          (gpt ? "GUID texts" : "integers from 0 to 255") + ", not " + shown(type));
        }
    }
    return true;
}

bool read_drive(const json& object, size_t index, DriveConfig* d, std::string* problem) {
    std::string where = "drives[" + std::to_string(index) + "]";
    if (!object.is_object()) {
        *problem = where + ": must be an object, not " + shown(object);
        return false;
    }
    Reader r{object, where, problem};
    if (!r.find("number"))
        return r.fail("\"number\" is missing");
    if (!r.uint_field("number", 255, &d->number))
        return false;
    r.where = "drive " + std::to_string(d->number);
    const json* path = r.find("path");
    if (!path)
        return r.fail("\"path\" is missing");
    if (!path->is_string())
        return r.fail("\"path\" must be a text, not " + shown(*path));
    d->path = path->get<std::string>();
    bool bridge = false;
    if (!known_drive_path(d->path, &bridge))
        return r.fail("unknown path " + shown(*path));
    d->bus = bridge ? 7 : 17;
    d->port = d->number;
    const json* controller = nullptr;
    if (!r.text_field("vendor", 255, false, true, &d->vendor, &d->has_vendor) ||
        !r.text_field("product", 255, false, true, &d->product, &d->has_product) ||
        !r.uint_field("bus", 255, &d->bus) || !r.uint_field("port", 255, &d->port) ||
        !r.uint_field("open_error", UINT32_MAX, &d->open_error) ||
        !r.uint_field("port_open_error", UINT32_MAX, &d->port_open_error) ||
        !r.uint_field("query_error", UINT32_MAX, &d->query_error) ||
        !r.uint_field("address_error", UINT32_MAX, &d->address_error) ||
        !r.bool_field("system", &d->system) || !r.uint_field("path_id", 255, &d->path_id) ||
        !r.uint_field("target_id", 255, &d->target_id) || !r.uint_field("lun", 255, &d->lun) ||
        !r.object_field("controller", &controller))
        return false;
    if (const json* fail = r.find("fail"))
        if (!read_faults(*fail, "fail", r, &d->fail))
            return false;
    if (const json* fail = r.find("read_fail"))
        if (!read_faults(*fail, "read_fail", r, &d->read_fail))
            return false;
    if (!read_bridge(r, bridge, &d->bridge) || !read_partitions(r, &d->partitions) ||
        !read_read_model(r, &d->read_model))
        return false;
    // The inbox driver's log query alone can be refused this way.
    if (r.find("log_error") && d->path != "inbox")
        return r.fail("\"log_error\" is only for the inbox driver's path");
    if (!r.uint_field("log_error", UINT32_MAX, &d->log_error))
        return false;
    return !controller || read_controller(*controller, r.where, &d->controller, problem);
}

// `volumes`: each an object with a drive letter or null, its disks and
// whether it is in use. Letters are unique and not the system volume's.
bool read_volumes(const json& list, Reader& r, HostConfig* host) {
    if (!list.is_array())
        return r.fail("\"volumes\" must be a list, not " + shown(list));
    std::set<char> letters;
    letters.insert(
        static_cast<char>(std::toupper(static_cast<unsigned char>(host->windows_dir[0]))));
    for (size_t i = 0; i < list.size(); ++i) {
        const json& entry = list[i];
        Reader v{entry, "volumes[" + std::to_string(i) + "]", r.problem};
        if (!entry.is_object())
            return v.fail("must be an object, not " + shown(entry));
        VolumeConfig volume;
        if (!v.bool_field("in_use", &volume.in_use))
            return false;
        if (const json* letter = v.find("letter")) {
            const std::string text = letter->is_string() ? letter->get<std::string>() : "";
            const char c = text.size() == 1 ? static_cast<char>(std::toupper(text[0])) : 0;
            if (!letter->is_null() && (c < 'A' || c > 'Z'))
                return v.fail("\"letter\" must be one letter or null, not " + shown(*letter));
            if (c && !letters.insert(c).second)
                return v.fail("letter " + text + " is used twice");
            volume.letter = c;
        }
        const json* disks = v.find("disks");
        if (!disks || !disks->is_array() || disks->empty())
            return v.fail("\"disks\" must be a list of drive numbers");
        for (const json& disk : *disks) {
            if (!disk.is_number_unsigned() || disk.get<uint64_t>() > 255)
                return v.fail("\"disks\" entries must be integers from 0 to 255, not " +
                              shown(disk));
            volume.disks.push_back(static_cast<uint32_t>(disk.get<uint64_t>()));
        }
        host->volumes.push_back(volume);
    }
    return true;
}

bool read_host(const json& root, HostConfig* host, std::string* problem) {
    if (!root.is_object()) {
        *problem = "the top level must be an object, not " + shown(root);
        return false;
    }
    Reader r{root, "", problem};
    const json* os = nullptr;
    if (!r.object_field("os", &os) || (os && !read_os(*os, &host->os, problem)) ||
        !r.uint_field("tick_start", UINT32_MAX, &host->tick_start) ||
        !r.text_field("windows_dir", 259, false, false, &host->windows_dir) ||
        !r.text_field("system_time", 64, true, false, &host->system_time) ||
        !r.text_field("computer", 255, false, false, &host->computer) ||
        !r.text_field("account", 255, false, true, &host->account, &host->has_account))
        return false;
    // Windows PE, and its RAM disk when the Windows directory is not given.
    if (!r.bool_field("winpe", &host->winpe))
        return false;
    if (host->winpe && !r.find("windows_dir")) {
        host->windows_dir = "X:\\Windows";
        host->ram_disk_system = true;
    }
    if (!parse_utc(host->system_time, &host->system_seconds))
        return r.fail("\"system_time\" must read YYYY-MM-DDThh:mm:ssZ, not \"" + host->system_time +
                      "\"");
    const json* drives = r.find("drives");
    if (!drives)
        return r.fail("\"drives\" is missing");
    if (!drives->is_array())
        return r.fail("\"drives\" must be a list, not " + shown(*drives));
    std::set<uint32_t> numbers;
    std::set<uint32_t> addresses; // port, path, target and LUN, a byte each
    for (size_t i = 0; i < drives->size(); ++i) {
        DriveConfig drive;
        if (!read_drive((*drives)[i], i, &drive, problem))
            return false;
        if (!numbers.insert(drive.number).second) {
            *problem = "drive " + std::to_string(drive.number) + ": number used twice";
            return false;
        }
        const uint32_t address = drive.port << 24 | uint32_t(drive.path_id) << 16 |
                                 uint32_t(drive.target_id) << 8 | drive.lun;
        if (!addresses.insert(address).second) {
            *problem = "drive " + std::to_string(drive.number) +
                       ": SCSI port and address used by another drive";
            return false;
        }
        host->drives.push_back(drive);
    }
    const json* volumes = r.find("volumes");
    return !volumes || read_volumes(*volumes, r, host);
}

} // namespace

std::vector<uint8_t> default_lbads() {
    std::vector<uint8_t> lbads;
    lbads.push_back(9);
    lbads.push_back(12);
    return lbads;
}

bool known_drive_path(const std::string& path, bool* is_bridge) {
    for (const PathKind& kind : PATH_KINDS) {
        if (path == kind.name) {
            *is_bridge = kind.bridge;
            return true;
        }
    }
    return false;
}

bool parse_host(const std::string& text, const std::string& origin, HostConfig* host,
                std::string* error) {
    std::string problem;
    HostConfig parsed;
    try {
        json root = json::parse(text);
        if (!read_host(root, &parsed, &problem)) {
            *error = "host file '" + origin + "': " + problem;
            return false;
        }
    } catch (const json::exception& e) {
        // e.what() reads "[json.exception.parse_error.101] parse error at ...".
        std::string what = e.what();
        size_t end = what.find("] ");
        if (what.rfind("[json.exception.", 0) == 0 && end != std::string::npos)
            what = what.substr(end + 2);
        *error = "host file '" + origin + "': not valid JSON: " + what;
        return false;
    } catch (const std::exception& e) {
        *error = "host file '" + origin + "': " + e.what();
        return false;
    }
    *host = parsed;
    return true;
}
