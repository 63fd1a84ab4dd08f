// Fault sweep: the built program on every drive of the default host, once
// clean and then once per device request of the clean run with that one
// request failing; likewise with the drive, its port or its queries refusing,
// and with the OS-version call failing.
//
// What every faulted run must show:
// - the failing operation's own message, with the injected last-error code
//   in lower-case hex, on standard output (descriptor queries print none);
// - the run goes on or ends as the dialogue's step says (see expected_log);
// - no Format NVM in the trace unless every step before it did what it did
//   in the clean run and, in the dialogue, the operator confirmed;
// - every handle closed, nothing on standard error, and the exit status of
//   the block's last line (see status_of);
// - the log block: see expected_log. Lines compare with the elapsed time
//   "[n ms]" masked. As a rule the faulted block is a line-wise prefix of the
//   clean block followed by at most one line of its own: the failing step's
//   line ("IOCTL: Error scsi get address", the old-ASMedia line, or the
//   failed outcome in place of "Erased [n ms]!": "Possible Erased [n ms],
//   re-plug drive!" for a JMicron data phase, which runs the format, and
//   "Erase error [n ms]!" for every other request of the format). A failed
//   completion query after the format changes nothing: the run's output is
//   the clean run's. After the outcome the read-back check runs (the clean
//   run changes the LBA size to 4096 bytes): a JMicron data phase that never
//   reached the drive finds Windows still at 512-byte sectors, a failed drive
//   size refresh leaves it there, a failed geometry query skips the check.
//   Two faults change the block
//   earlier, because the run goes on with what the failure left: a failed
//   bus query makes a USB drive's Drive line say NVME (the driver paths then
//   find no controller), and a failed Identify Namespace ends the run before
//   the geometry lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/wire.h"
#include "sim/sim.h"
#include "sim_support.h"
#include "support.h"

namespace {

using nlohmann::json;

constexpr uint32_t CODE_UPDATE_DRIVE_SIZE = 0x0007C0C8;
constexpr uint32_t CODE_UPDATE_PROPERTIES = 0x00070140;
constexpr uint32_t CODE_GEOMETRY = 0x000700A0;
constexpr uint32_t CODE_REINITIALIZE_MEDIA = 0x002D9640;
constexpr uint32_t CODE_LAYOUT = 0x00070050;

enum class Step {
    Listing,
    Bus,
    Address,
    Probe,
    Namespace,
    Layout,
    Format,
    Completion,
    Refresh,
    Unknown
};
enum class Probe { None, Jms, AsmLegacy, Asm, Rtl, Inbox, Ofa };

// One device request of the clean run, as the sweep understands it.
struct Request {
    Step step = Step::Unknown;
    Probe probe = Probe::None;
    std::string message; // printf format of the failure message; "" for none
    int direction = 0;   // for the Realtek data phase's message
    bool sends_format = false;
    bool runs_unanswered = false;  // a JMicron data phase: its failure leaves the format possible
    const char* verdict = nullptr; // a refresh's failure: the check's line; none: no change
    bool hands_sanitize = false;   // a bridge's command phase that carries Sanitize
    bool starts_sanitize = false;  // the request that runs it: a driver's, a bridge's data phase
};

const char* const STALE_SECTORS =
    "Verify  : skipped, Windows still sees 512-byte sectors: re-plug the drive";

// Quiet with every answer given, or the whole dialogue with typed answers.
enum class Mode { Quiet, Dialogue };

struct Case {
    int drive;
    Mode mode;
};

std::string case_name(const testing::TestParamInfo<Case>& info) {
    return "Drive" + std::to_string(info.param.drive) +
           (info.param.mode == Mode::Quiet ? "Quiet" : "Dialogue");
}

std::vector<Case> default_host_cases() {
    std::vector<Case> cases;
    const json host = json::parse(sim_default_host_json());
    for (const json& drive : host.at("drives")) {
        cases.push_back({drive.at("number").get<int>(), Mode::Quiet});
        cases.push_back({drive.at("number").get<int>(), Mode::Dialogue});
    }
    return cases;
}

std::string format_text(const char* format, uint32_t a, uint32_t b = 0) {
    char text[256];
    snprintf(text, sizeof text, format, a, b);
    return text;
}

// The lines of a text whose lines end in `eol`.
std::vector<std::string> lines_of(const std::string& text, const std::string& eol) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(eol, start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        // The elapsed time is the simulated clock's; a fault may change it.
        const size_t open = line.find(" [");
        const size_t close = line.find(" ms]");
        if (open != std::string::npos && close != std::string::npos && close > open)
            line = line.substr(0, open) + " [# ms]" + line.substr(close + 4);
        lines.push_back(line);
        start = end + eol.size();
    }
    return lines;
}

std::vector<std::string> head(const std::vector<std::string>& lines, size_t count) {
    return std::vector<std::string>(
        lines.begin(), lines.begin() + static_cast<long>(std::min(count, lines.size())));
}

// The text after its first `count` lines.
std::string after_line(const std::string& text, int count) {
    size_t at = 0;
    for (int i = 0; i < count && at != std::string::npos; ++i)
        at = text.find('\n', at) + 1;
    return at == std::string::npos ? "" : text.substr(at);
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Index of the first line starting with any of `prefixes`; the size when none.
size_t first_line(const std::vector<std::string>& lines, std::vector<std::string> prefixes) {
    for (size_t i = 0; i < lines.size(); ++i)
        for (const std::string& prefix : prefixes)
            if (starts_with(lines[i], prefix))
                return i;
    return lines.size();
}

// The drive's requests (its disk path and its SCSI port), in order: the
// `nth` of the host contract counts exactly these.
std::vector<json> drive_requests(const std::vector<json>& trace, int drive) {
    const std::string disk = "\\\\.\\PhysicalDrive" + std::to_string(drive);
    const std::string port = "\\\\.\\SCSI" + std::to_string(drive) + ":";
    std::vector<json> lines;
    for (const json& line : trace_ops(trace, "ioctl")) {
        const std::string path = line.at("path").get<std::string>();
        if (path == disk || path == port)
            lines.push_back(line);
    }
    return lines;
}

// Step of a command from its submission entry.
void classify_entry(const uint8_t* entry, Probe tunnel, Request* r) {
    r->hands_sanitize = entry[0] == 0x84;
    if (entry[0] == 0x80) {
        r->step = Step::Format;
        r->sends_format = true;
    } else if (entry[0] == 0x06 && entry[40] == 1) {
        r->step = Step::Probe;
        r->probe = tunnel;
    } else if (entry[0] == 0x06 && entry[40] == 0) {
        r->step = Step::Namespace;
    }
}

// A bridge's data phase: it runs the command its command phase carried.
Request data_phase(Request command) {
    command.sends_format = false;
    command.starts_sanitize = command.hands_sanitize;
    command.hands_sanitize = false;
    return command;
}

// Reads the requests of a run: which step each belongs to and what its
// failure prints. A bridge's data phase belongs to the command its command
// phase carried.
std::vector<Request> classify(const std::vector<json>& requests) {
    std::vector<Request> out;
    Request command; // the last command phase
    size_t last_descriptor = requests.size();
    for (size_t i = 0; i < requests.size(); ++i) {
        const json& line = requests[i];
        const uint32_t code = line.at("code").get<uint32_t>();
        const std::vector<uint8_t> in = trace_input(line);
        Request r;
        if (code == CODE_QUERY_PROPERTY && in.size() >= 4 && get_le32(in.data(), 0) == 0) {
            r.step = Step::Listing; // the last one becomes the bus query below
            last_descriptor = i;
        } else if (code == CODE_QUERY_PROPERTY) {
            r.step = Step::Probe;
            r.probe = Probe::Inbox;
            r.message = "IOCtl: ID failed 0x%x!\n";
        } else if (code == CODE_UPDATE_DRIVE_SIZE) {
            r.step = Step::Refresh;
            r.message = "IOCtl: update drive size failed 0x%x!\n";
            r.verdict = STALE_SECTORS; // Windows keeps the old sector size
        } else if (code == CODE_UPDATE_PROPERTIES) {
            r.step = Step::Refresh;
            r.message = "IOCtl: update properties failed 0x%x!\n";
        } else if (code == CODE_GEOMETRY) {
            r.step = Step::Refresh;
            r.message = "IOCtl: drive geometry failed 0x%x!\n";
            r.verdict = "Verify  : skipped, Windows does not tell its sector size";
        } else if (code == CODE_LAYOUT) {
            // A layout that cannot be read guards nothing: the run goes on.
            const std::string disk = line.at("path").get<std::string>().substr(17);
            r.step = Step::Layout;
            r.message = "IOCtl: drive " + disk + " layout failed 0x%x!\n";
        } else if (code == CODE_GET_ADDRESS) {
            r.step = Step::Address;
            r.message = "IOCTL: Error scsi get address\n";
        } else if (code == CODE_MINIPORT && in.size() >= 116) {
            classify_entry(in.data() + 52, Probe::Ofa, &r);
            std::swap(r.starts_sanitize, r.hands_sanitize); // the driver runs it in one request
            r.message = "IOCtl: NVME_OF failed 0x%x!\n";
        } else if (code == CODE_PASS_THROUGH && in.size() >= spt().data) {
            const uint8_t* cdb = in.data() + spt().cdb;
            const uint32_t data = spt().data;
            const bool has_entry = in.size() >= data + 64;
            if ((cdb[0] == 0xA1 && cdb[1] == 0x8F) ||
                (cdb[0] == 0xEB && cdb[1] == 0x5A && cdb[2] == 0x82) ||
                (cdb[0] == 0xE4 && cdb[3] == 0xF9)) {
                r.step = Step::Completion; // fails silently
            } else if (cdb[0] == 0xA1 && cdb[1] == 0x80 && in.size() >= data + 8 + 64) {
                classify_entry(in.data() + data + 8, Probe::Jms, &r);
                r.message = "IOCtl: send failed 0x%x!\n";
                command = r;
            } else if (cdb[0] == 0xA1) {
                r = data_phase(command);
                r.runs_unanswered = true;
                r.message = "IOCtl: phase2 failed 0x%x!\n";
            } else if ((cdb[0] == 0xEA || cdb[0] == 0xEB) && cdb[1] == 0x5A && cdb[2] == 0x80 &&
                       has_entry) {
                classify_entry(in.data() + data, Probe::Asm, &r);
                r.message = "IOCtl: asm cmd send[1] failed 0x%x!\n";
                command = r;
            } else if ((cdb[0] == 0xEA || cdb[0] == 0xEB) && cdb[1] == 0x5A) {
                r = data_phase(command);
                r.message = "IOCtl: asm data exchange[2] failed 0x%x!\n";
            } else if (cdb[0] == 0xE6) {
                r.step = Step::Probe;
                r.probe = Probe::AsmLegacy;
                r.message = "IOCtl: ASM Id/Smart failed 0x%x!\n";
            } else if (cdb[0] == 0xE5 && cdb[3] == 0xF7 && has_entry) {
                classify_entry(in.data() + data, Probe::Rtl, &r);
                r.message = "IOCtl: rtl cmd send[1] failed 0x%x!\n";
                command = r;
            } else if ((cdb[0] == 0xE4 || cdb[0] == 0xE5) && cdb[3] == 0xF8) {
                r = data_phase(command);
                r.message = "IOCtl: rtl data exchange[2] %u failed 0x%x!\n";
                r.direction = cdb[6] + 1;
            } else if (cdb[0] == 0x48) {
                r.starts_sanitize = true;
                r.message = "IOCtl: SCSI SANITIZE failed 0x%x!\n";
            }
        } else if (code == CODE_REINITIALIZE_MEDIA) {
            r.starts_sanitize = true;
            r.message = "IOCtl: REINITIALIZE_MEDIA failed 0x%x!\n";
        }
        out.push_back(r);
    }
    if (last_descriptor < out.size())
        out[last_descriptor].step = Step::Bus;
    return out;
}

bool trace_sends_format(const std::vector<json>& trace, int drive) {
    for (const Request& r : classify(drive_requests(trace, drive)))
        if (r.sends_format)
            return true;
    return false;
}

// The probes whose answer made the clean run's detection come out as it did:
// failing one of them changes the outcome; failing any other probe only adds
// its message.
std::vector<Probe> deciding_probes(const std::vector<std::string>& clean_log) {
    const struct {
        const char* line;
        std::vector<Probe> probes;
    } outcomes[] = {
        {"Bridge  : JMS", {Probe::Jms}},
        {"Bridge  : ASM", {Probe::AsmLegacy, Probe::Asm}},
        {"Bridge  : RTL", {Probe::Rtl}},
        {"Driver  : W10", {Probe::Inbox}},
        {"Driver  : OFA", {Probe::Ofa}},
        {"ASM2362 with old firmware", {Probe::AsmLegacy, Probe::Asm}},
    };
    for (const auto& outcome : outcomes)
        if (first_line(clean_log, {outcome.line}) < clean_log.size())
            return outcome.probes;
    return {};
}

const char* const OLD_ASMEDIA_LINE =
    "ASM2362 with old firmware is not supported, need to update firmware to 19xxxx";

// The exit status a log block stands for, by its outcome and the verdict of
// the check after it; a block that ends before an outcome or a refusal is a
// drive that was not reached.
int status_of(const std::vector<std::string>& log, bool log_is_head) {
    const struct {
        const char* line;
        int status;
    } endings[] = {
        {"Verified!", 0},      {"Verify error: data survived", 9},
        {"Erase error [", 1},  {"Error - possible incompatible nvme driver", 7},
        {OLD_ASMEDIA_LINE, 7},
    };
    if (log_is_head || log.empty())
        return 6;
    for (const auto& ending : endings)
        if (starts_with(log.back(), ending.line))
            return ending.status;
    if (first_line(log, {"Possible Erased ["}) < log.size())
        return 3;
    if (first_line(log, {"Erased ["}) < log.size())
        return starts_with(log.back(), "Verify  : nothing to compare") ? 0 : 10;
    return 6;
}

struct Expectation {
    std::vector<std::string> log; // the whole block, or its head when `log_is_head`
    bool log_is_head = false;
    std::vector<std::string> out_has; // texts standard output must hold
    bool format_allowed = false;      // a format may be in the trace
};

struct CleanRun {
    RunResult run;
    std::vector<std::string> log;
    std::vector<Request> requests;
    bool usb = false;
    bool formats = false;
};

Expectation same_as_clean(const CleanRun& clean) {
    Expectation e;
    e.log = clean.log;
    e.format_allowed = clean.formats;
    return e;
}

// The drive is taken for an NVMe drive: a USB drive's driver probes find no
// controller.
Expectation seen_as_nvme(const CleanRun& clean, int drive) {
    if (!clean.usb)
        return same_as_clean(clean);
    Expectation e;
    e.log = head(clean.log, 2);
    e.log.push_back("Drive   : " + std::to_string(drive) + "(NVME)");
    e.log_is_head = true;
    e.out_has.push_back("Identify error!\n");
    return e;
}

Expectation address_fails(const CleanRun& clean) {
    if (clean.usb)
        return same_as_clean(clean); // a USB drive asks no SCSI address
    Expectation e;
    e.log = head(clean.log, 3);
    e.log.push_back("IOCTL: Error scsi get address");
    return e;
}

Expectation expected_log(const CleanRun& clean, int drive, const Request& r) {
    Expectation e;
    switch (r.step) {
    case Step::Listing:
        return same_as_clean(clean);
    case Step::Bus:
        return seen_as_nvme(clean, drive);
    case Step::Address:
        return address_fails(clean);
    case Step::Probe: {
        const std::vector<Probe> deciding = deciding_probes(clean.log);
        if (std::find(deciding.begin(), deciding.end(), r.probe) == deciding.end())
            return same_as_clean(clean);
        // Detection ends without a controller: the block stops before the
        // detection lines. A tunnel probe whose request failed is no sign of
        // old ASMedia firmware (only its CHECK CONDITION is).
        e.log = head(clean.log, first_line(clean.log, {"Bridge  :", "Driver  :", "ASM2362"}));
        e.out_has.push_back("Identify error!\n");
        return e;
    }
    case Step::Namespace:
        // No namespace data, no geometry and no format.
        e.log = head(clean.log, first_line(clean.log, {"Size    :"}));
        return e;
    case Step::Format:
        e.log = head(clean.log, first_line(clean.log, {"Erased ["}));
        e.log.push_back(r.runs_unanswered ? "Possible Erased [# ms], re-plug drive!"
                                          : "Erase error [# ms]!");
        if (r.runs_unanswered) // the format never reached the drive
            e.log.push_back(STALE_SECTORS);
        e.format_allowed = true;
        return e;
    case Step::Layout:
    case Step::Completion:
        return same_as_clean(clean);
    case Step::Refresh:
        if (!r.verdict)
            return same_as_clean(clean);
        e.log = head(clean.log, first_line(clean.log, {"Erased ["}) + 1);
        e.log.push_back(r.verdict);
        e.format_allowed = true;
        return e;
    case Step::Unknown:
        break;
    }
    ADD_FAILURE() << "a request the sweep does not know";
    return same_as_clean(clean);
}

class FaultSweep : public testing::TestWithParam<Case> {
  protected:
    int drive() const { return GetParam().drive; }

    // The default host with `field` set on this test's drive.
    std::string host_with_drive_field(const std::string& field, const json& value) const {
        json host = json::parse(sim_default_host_json());
        for (json& d : host.at("drives"))
            if (d.at("number").get<int>() == drive())
                d[field] = value;
        return host.dump();
    }

    std::string host_with_os(const json& os) const {
        json host = json::parse(sim_default_host_json());
        host["os"] = os;
        return host.dump();
    }

    RunResult run(const std::string& host) const {
        const std::string n = std::to_string(drive());
        if (GetParam().mode == Mode::Quiet)
            return run_program(host, {n + "Y", "1", "2"});
        return run_program(host, {}, n + "\n1\n2\nY\n");
    }

    CleanRun clean() const {
        CleanRun c;
        c.run = run(sim_default_host_json());
        c.log = lines_of(c.run.log, c.run.eol);
        c.requests = classify(drive_requests(c.run.trace, drive()));
        c.usb = first_line(c.log, {"Drive   : " + std::to_string(drive()) + "(USB)"}) < 3;
        c.formats = trace_sends_format(c.run.trace, drive());
        EXPECT_TRUE(handles_balanced(c.run.trace));
        EXPECT_EQ(c.run.err, "");
        EXPECT_GE(c.log.size(), 3u) << c.run.out;
        return c;
    }

    void check(const std::string& what, const RunResult& run, const Expectation& e) const {
        SCOPED_TRACE(what);
        EXPECT_EQ(run.status, status_of(e.log, e.log_is_head));
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(handles_balanced(run.trace));
        const std::vector<std::string> log = lines_of(run.log, run.eol);
        if (e.log_is_head) {
            EXPECT_EQ(head(log, e.log.size()), e.log) << run.out;
        } else {
            EXPECT_EQ(log, e.log) << run.out;
        }
        for (const std::string& text : e.out_has)
            EXPECT_NE(run.out.find(run.text(text)), std::string::npos) << text << "\n" << run.out;
        if (trace_sends_format(run.trace, drive())) {
            EXPECT_TRUE(e.format_allowed) << run.out;
            // Everything before the outcome as the clean run had it.
            EXPECT_EQ(head(log, log.size() - 1), head(e.log, e.log.size() - 1));
            if (GetParam().mode == Mode::Dialogue) {
                EXPECT_NE(run.out.find("'N' for cancel "), std::string::npos);
                EXPECT_EQ(run.out.find("Not sure"), std::string::npos);
            }
        }
        // The dialogue always closes with the key wait; the quiet run never.
        EXPECT_EQ(run.out.find(run.text("\nPress any key to exit\n")) != std::string::npos,
                  GetParam().mode == Mode::Dialogue);
    }
};

} // namespace

TEST_P(FaultSweep, EveryRequestOfTheCleanRunFailingInTurn) {
    const CleanRun c = clean();
    ASSERT_FALSE(c.requests.empty());
    for (size_t i = 0; i < c.requests.size(); ++i) {
        const uint32_t nth = static_cast<uint32_t>(i + 1);
        // Hex letters in every code, so the case of the hex digits shows.
        const uint32_t error = 0xfa0 + nth;
        const json fail = json::array({{{"nth", nth}, {"error", error}}});
        const RunResult faulted = run(host_with_drive_field("fail", fail));
        const Request& r = c.requests[i];
        const std::string what = "request " + std::to_string(nth) + " of drive " +
                                 std::to_string(drive()) + " failing with " + std::to_string(error);

        // The injected failure landed on the request the clean run made.
        const std::vector<json> requests = drive_requests(faulted.trace, drive());
        ASSERT_GE(requests.size(), nth) << what;
        EXPECT_EQ(requests[i].at("in"), drive_requests(c.run.trace, drive())[i].at("in")) << what;
        EXPECT_FALSE(requests[i].at("ok").get<bool>()) << what;
        EXPECT_EQ(requests[i].at("error").get<uint32_t>(), error) << what;

        Expectation e = expected_log(c, drive(), r);
        if (!r.message.empty())
            e.out_has.push_back(r.direction ? format_text(r.message.c_str(), r.direction, error)
                                            : format_text(r.message.c_str(), error));
        if (r.step == Step::Completion) {
            EXPECT_EQ(faulted.out, c.run.out) << what;
        }
        if (r.step == Step::Listing) {
            EXPECT_EQ(faulted.out.find(faulted.text("\n" + format_text("%2u: ", drive()))),
                      std::string::npos)
                << what << faulted.out;
        }
        check(what, faulted, e);
    }
}

TEST_P(FaultSweep, DriveAndPortThatCannotBeOpened) {
    const CleanRun c = clean();

    const RunResult disk = run(host_with_drive_field("open_error", 5));
    Expectation e;
    e.log = head(c.log, 2);
    // The bus query cannot open the drive either.
    e.log.push_back("Drive   : " + std::to_string(drive()) + "(NVME)");
    e.out_has.push_back("Error open disk\n");
    check("open_error", disk, e);
    EXPECT_TRUE(drive_requests(disk.trace, drive()).empty());

    const RunResult port = run(host_with_drive_field("port_open_error", 5));
    if (c.usb) {
        check("port_open_error", port, same_as_clean(c));
    } else {
        e.log = head(c.log, 4);
        e.out_has = {"Error open scsi device\n"};
        check("port_open_error", port, e);
    }
}

TEST_P(FaultSweep, DescriptorAndAddressQueriesRefused) {
    const CleanRun c = clean();

    const RunResult query = run(host_with_drive_field("query_error", 0x1f));
    check("query_error", query, seen_as_nvme(c, drive()));
    EXPECT_EQ(query.out.find(query.text("\n" + format_text("%2u: ", drive()))), std::string::npos);

    const RunResult address = run(host_with_drive_field("address_error", 0x20));
    Expectation e = address_fails(c);
    if (!c.usb)
        e.out_has.push_back("IOCTL: Error scsi get address\n");
    check("address_error", address, e);
}

TEST_P(FaultSweep, OsVersionCallsFailing) {
    const CleanRun c = clean();

    // The short record answers: nothing changes.
    const RunResult ex = run(host_with_os({{"ex_fails", true}, {"csd", "SP1"}}));
    Expectation e = same_as_clean(c);
    e.log[1] = "OS: 10.0 build 19045 SP1";
    check("ex_fails", ex, e);

    // Neither answers: the zeroed record is shown, the run goes on.
    const RunResult fails = run(host_with_os({{"fails", true}, {"csd", "SP1"}}));
    e.log[1] = "OS: 0.0 build 0 ";
    e.out_has = {"Veltrane (FormatUnit) v0.7a by Brastel\nOS: 0.0 build 0 \n"};
    check("fails", fails, e);
    // Only the inbox driver's sanitize hint needs the build number.
    std::string clean_out = after_line(c.run.out, 2);
    const size_t hint = clean_out.find("Sanitize is possible");
    if (hint != std::string::npos)
        clean_out.erase(hint, clean_out.find('\n', hint) + 1 - hint);
    EXPECT_EQ(after_line(fails.out, 2), clean_out);
}

INSTANTIATE_TEST_SUITE_P(DefaultHost, FaultSweep, testing::ValuesIn(default_host_cases()),
                         case_name);

// Sanitize mode: every request of a quiet sanitize run failing in turn with
// a timeout (121), a device error (1117) and an invalid function (1), on
// small namespaces. The outcome line agrees with whether the Sanitize reached
// the controller (a request that ran it succeeded: the device never sees a
// failed one) and with the exit status: `Sanitized` only when it did,
// `Sanitize error` only when it did not, `Sanitize unconfirmed` either way,
// the read-back then finding the data gone or there. The request that runs
// the sanitize, failed, is judged by the log (which shows nothing new:
// `Sanitize unconfirmed`) when the drive may have taken it (a timeout, any
// failure of a JMicron data phase, the inbox driver's failures but an invalid
// function, which sends the SCSI SANITIZE command instead); otherwise, and
// for a bridge's command phase, it is `Sanitize error`.
namespace {

bool sanitize_reached(const std::vector<json>& requests) {
    const std::vector<Request> kinds = classify(requests);
    for (size_t i = 0; i < requests.size(); ++i)
        if (kinds[i].starts_sanitize && requests[i].at("ok").get<bool>())
            return true;
    return false;
}

// The outcome's words, "" when the run ended before one; and the exit status
// the block stands for.
std::string sanitize_outcome(const std::vector<std::string>& log) {
    for (const char* words : {"Sanitized", "Sanitize unconfirmed", "Sanitize error"})
        if (first_line(log, {std::string(words) + " ["}) < log.size())
            return words;
    return "";
}

int sanitize_status_of(const std::vector<std::string>& log) {
    const std::string outcome = sanitize_outcome(log);
    if (outcome.empty() || outcome == "Sanitize error")
        return outcome.empty() ? status_of(log, false) : 1;
    if (starts_with(log.back(), "Verified!"))
        return 0;
    if (starts_with(log.back(), "Verify error: data survived"))
        return 9;
    return outcome == "Sanitized" ? 10 : 3;
}

std::string sanitize_host(int drive, const json& fail) {
    json host = json::parse(sim_default_host_json());
    for (json& d : host.at("drives")) {
        d["controller"]["nsze"] = 1024; // 128 units: the read-back reads them all
        if (d.at("number").get<int>() == drive && !fail.is_null())
            d["fail"] = fail;
    }
    return host.dump();
}

class SanitizeSweep : public testing::TestWithParam<int> {};

} // namespace

TEST_P(SanitizeSweep, EveryRequestFailingInTurnWithATimeoutADeviceErrorAndAnInvalidFunction) {
    const int drive = GetParam();
    const std::vector<std::string> args = {std::to_string(drive) + "SY"};
    const RunResult clean = run_program(sanitize_host(drive, json()), args);
    const std::vector<json> requests = drive_requests(clean.trace, drive);
    const std::vector<Request> kinds = classify(requests);
    ASSERT_FALSE(requests.empty());
    // One request ran the clean run's sanitize, if it came to one.
    EXPECT_EQ(std::count_if(kinds.begin(), kinds.end(),
                            [](const Request& r) { return r.starts_sanitize; }),
              sanitize_outcome(lines_of(clean.log, clean.eol)).empty() ? 0 : 1);
    for (size_t i = 0; i < requests.size(); ++i) {
        for (const uint32_t error : {121u, 1117u, 1u}) {
            const uint32_t nth = static_cast<uint32_t>(i + 1);
            const RunResult run = run_program(
                sanitize_host(drive, json::array({{{"nth", nth}, {"error", error}}})), args);
            SCOPED_TRACE("request " + std::to_string(nth) + " of drive " + std::to_string(drive) +
                         " failing with " + std::to_string(error) + "\n" + run.out);
            const std::vector<json> faulted = drive_requests(run.trace, drive);
            ASSERT_GE(faulted.size(), nth);
            EXPECT_EQ(faulted[i].at("in"), requests[i].at("in"));
            EXPECT_TRUE(handles_balanced(run.trace));
            EXPECT_EQ(run.err, "");

            const std::vector<std::string> log = lines_of(run.log, run.eol);
            const std::string outcome = sanitize_outcome(log);
            const bool reached = sanitize_reached(faulted);
            EXPECT_EQ(run.status, sanitize_status_of(log));
            if (outcome != "Sanitize unconfirmed") {
                EXPECT_EQ(reached, outcome == "Sanitized");
            }
            if (run.status == 0 || run.status == 9) { // the read-back compared
                EXPECT_EQ(reached, run.status == 0);
            }
            const Request& r = kinds[i];
            const bool inbox = r.message.find("REINITIALIZE") != std::string::npos;
            if (r.hands_sanitize) {
                EXPECT_EQ(outcome, "Sanitize error");
            } else if (r.starts_sanitize) {
                const bool taken = error == 121 || r.runs_unanswered || (inbox && error != 1);
                EXPECT_EQ(outcome, inbox && error == 1 ? "Sanitized"
                                   : taken             ? "Sanitize unconfirmed"
                                                       : "Sanitize error");
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(DefaultHost, SanitizeSweep, testing::Range(0, 7),
                         [](const testing::TestParamInfo<int>& info) {
                             return "Drive" + std::to_string(info.param);
                         });
