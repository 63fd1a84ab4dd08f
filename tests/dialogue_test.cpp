// The dialogue in-process against simulated hosts: console, log and the
// requests it makes.
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

#include "platform/wire.h"
#include "sim/sim.h"
#include "sim_support.h"
#include "support.h"

namespace {

const std::string kModel = "Simulated NVMe                          ";
const std::string kFirmware = "1.0     ";
const std::string kSerial = "SIM00000001         ";

std::string jmicron_host(const std::string& controller = "{}", const std::string& extra = "") {
    return drive_host(2, "jmicron",
                      R"(, "vendor": "JMicron ", "product": "Generic NVMe", "controller": )" +
                          controller + extra);
}

// Format NVM command blocks the JMicron tunnel sent.
std::vector<std::vector<uint8_t>> format_blocks(const std::vector<nlohmann::json>& trace) {
    std::vector<std::vector<uint8_t>> blocks;
    for (const nlohmann::json& line : trace_ops(trace, "ioctl")) {
        const std::vector<uint8_t> in = trace_input(line);
        if (in.size() == spt().data + 512 && in[spt().data + 8] == 0x80)
            blocks.push_back(in);
    }
    return blocks;
}

} // namespace

TEST(Dialogue, QuietJmicronEraseFrom512To4096) {
    const int writes = sim_appends("veltrane-log.txt");
    const RunResult run = run_dialogue(jmicron_host(), {"2Y", "1"}, "", "earlier\n");
    EXPECT_EQ(sim_appends("veltrane-log.txt"), writes + 1); // the whole block in one write
    const std::string body = "Drive   : 2(USB)\n"
                             "Bridge  : JMS\n"
                             "Model   : " +
                             kModel + "\nFw      : " + kFirmware +
                             "\n"
                             "S/N     : " +
                             kSerial +
                             "\n"
                             "Size    : 953869 MB\n"
                             "LBA Size: 512\n"
                             "LBA fmt list:\n##  LBAsize\n"
                             " 0+  512\n"
                             " 1  4096\n"
                             "Change LBA data size format (512->4096)\n"
                             "Selected SES action: 1 - User Data Erase\n"
                             "Erased [1500 ms]!\n" +
                             VERIFIED;
    EXPECT_EQ(run.out, BANNER + with_note(body));
    std::string logged = LOG_HEAD + body;
    logged.erase(logged.find("S/N     : "), 10 + kSerial.size() + 1); // no N: no serial line
    EXPECT_EQ(run.log, "earlier\n" + logged);
    EXPECT_TRUE(handles_balanced(run.trace));
    const auto blocks = format_blocks(run.trace);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(get_le32(blocks[0].data(), spt().data + 48), 0x201u);
    EXPECT_EQ(get_le32(blocks[0].data(), 16), 300u); // TimeOutValue while formatting
}

TEST(Dialogue, CurrentFormatMarkedWithPlus) {
    const RunResult run = run_dialogue(jmicron_host(R"({"flbas": 1})"), {"2Y"});
    EXPECT_NE(run.out.find("LBA Size: 4096\nLBA fmt list:\n##  LBAsize\n 0   512\n 1+ 4096\n"
                           "Dont change - Secure Erase only\nSelected SES"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.log.find("S/N"), std::string::npos);
    const auto blocks = format_blocks(run.trace);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(get_le32(blocks[0].data(), spt().data + 48), 0x201u); // format 1 kept, SES 1
}

TEST(Dialogue, ArgumentsWithBothLettersLogTheSerialAndSkipEveryQuestion) {
    const RunResult run = run_dialogue(jmicron_host(), {"2YN", "1", "2"});
    EXPECT_NE(run.log.find("S/N     : " + kSerial + "\n"), std::string::npos);
    EXPECT_NE(run.out.find("Selected SES action: 2 - Cryptographic Erase\n"), std::string::npos);
    EXPECT_EQ(run.out.find("Please"), std::string::npos);
    EXPECT_EQ(run.out.find("Press any key"), std::string::npos);
    const auto blocks = format_blocks(run.trace);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(get_le32(blocks[0].data(), spt().data + 48), 0x401u);
}

TEST(Dialogue, BadDriveNumbersAtThePromptEndAtOnce) {
    for (const char* answer : {"100\n", "-1\n", "4294967296\n"}) {
        const RunResult run = run_dialogue(jmicron_host(), {}, answer);
        EXPECT_EQ(run.out, BANNER + " 2: JMicron Generic NVMe\n"
                                    "Please select drive number:Error: bad drive number\n")
            << answer;
        EXPECT_FALSE(run.log_exists);
        // Only the listing's short-lived handles, all closed; no exclusive open.
        for (const nlohmann::json& open : trace_ops(run.trace, "open"))
            EXPECT_EQ(open.at("share"), 3);
        EXPECT_TRUE(handles_balanced(run.trace));
    }
}

TEST(Dialogue, QuietLetterAtThePromptTakesEveryDefault) {
    const RunResult run = run_dialogue(drive_host(7, "jmicron"), {}, "7y\n");
    EXPECT_NE(run.out.find("Drive   : 7(USB)\n"), std::string::npos);
    EXPECT_NE(run.out.find("Dont change - Secure Erase only\n"
                           "Selected SES action: 1 - User Data Erase\nErased [1500 ms]!\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("Press any key"), std::string::npos);
    EXPECT_EQ(count_substr(run.out, "Please"), 1);
}

TEST(Dialogue, NegativeFirstArgumentIsShownUnsignedAndFailsToOpen) {
    // The log is appended to: one block per run.
    const RunResult run = run_dialogue(jmicron_host(), {"-1"}, "", "earlier\n");
    EXPECT_NE(
        run.out.find("Drive   : 4294967295(NVME)\nError open disk\n\nPress any key to exit\n"),
        std::string::npos)
        << run.out;
    EXPECT_EQ(run.log, "earlier\n" + LOG_HEAD + "Drive   : 4294967295(NVME)\n");
}

TEST(Dialogue, InteractiveAnswersAndTheConfirmation) {
    const RunResult run = run_dialogue(jmicron_host(), {"2"}, "1\n\nyes\n");
    EXPECT_NE(run.out.find("Please select LBA data size format number:"
                           "Change LBA data size format (512->4096)\n" +
                           NOTE_4096 +
                           "\nPlease select SES action (0/1/2 - default 1):"
                           "Selected SES action: 1 - User Data Erase\n"
                           "\nAll data on disk will be lost, You sure?\n"
                           "Press 'Y' and 'Enter' for continue, 'N' for cancel "
                           "Erased [1500 ms]!\n" +
                           VERIFIED + "\nPress any key to exit\n"),
              std::string::npos)
        << run.out;
}

TEST(Dialogue, AnswersThatEndTheRun) {
    struct Case {
        const char* input;
        const char* message;
    } cases[] = {
        {"2\n", "Error: wrong LBA data size format\n"},
        {"-1\n", "Error: wrong LBA data size format\n"},
        {"0\n3\n", "Error: wrong SES action selected\n"},
        {"0\nx\nn\n", "Error: wrong SES action selected\n"},
        {"0\n1\n\n", "Not sure - Exit!\n"},
        {"0\n1\n y\n", "Not sure - Exit!\n"},
        {"", "Not sure - Exit!\n"},
    };
    for (const Case& c : cases) {
        const RunResult run = run_dialogue(jmicron_host(), {"2"}, c.input);
        EXPECT_NE(run.out.find(std::string(c.message) + "\nPress any key to exit\n"),
                  std::string::npos)
            << c.input << run.out;
        EXPECT_TRUE(format_blocks(run.trace).empty()) << c.input;
        EXPECT_TRUE(handles_balanced(run.trace));
        EXPECT_EQ(run.log.find(c.message), std::string::npos);
    }
}

TEST(Dialogue, FailedJmicronFormatIsAPossibleErase) {
    // Requests to the drive: 1 bus query, 2+2 identify controller/namespace,
    // the layout (6), then the format's command phase (7) and data phase (8).
    const RunResult run =
        run_dialogue(jmicron_host("{}", R"(, "fail": [{"nth": 8, "error": 1167}])"), {"2Y", "1"});
    EXPECT_NE(run.out.find("IOCtl: phase2 failed 0x48f!\n"
                           "Possible Erased [0 ms], re-plug drive!\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.log.find("Possible Erased [0 ms], re-plug drive!\n"), std::string::npos);
    EXPECT_EQ(run.log.find("IOCtl"), std::string::npos);
    EXPECT_TRUE(handles_balanced(run.trace));
}

TEST(Dialogue, FailedNamespaceIdentifyEndsTheRunWithoutFormatting) {
    // The namespace's data phase (request 5) fails: the current format is
    // unknown, so no geometry is shown and nothing is formatted, even in quiet
    // mode where the current format would have been taken.
    const RunResult run =
        run_dialogue(jmicron_host("{}", R"(, "fail": [{"nth": 5, "error": 31}])"), {"2Y"});
    EXPECT_NE(run.out.find("S/N     : " + kSerial + "\nIOCtl: phase2 failed 0x1f!\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("Size"), std::string::npos);
    EXPECT_TRUE(format_blocks(run.trace).empty());
    EXPECT_EQ(run.log.find("Size"), std::string::npos);
    EXPECT_TRUE(handles_balanced(run.trace));
}

TEST(Dialogue, NamespaceDataAllZeroOffersNothingToChoose) {
    // A namespace with no size and no formats, as a bridge that answers with
    // no data leaves it: 0 MB, LBA size 1, an empty list, and not even the
    // quiet default can be chosen.
    const RunResult run = run_dialogue(jmicron_host(R"({"nsze": 0, "lbads": [0]})"), {"2Y"});
    EXPECT_TRUE(ends_with(run.out, "Size    : 0 MB\nLBA Size: 1\nLBA fmt list:\n##  LBAsize\n"
                                   "Error: wrong LBA data size format\n"))
        << run.out;
    EXPECT_TRUE(format_blocks(run.trace).empty());
}

TEST(Dialogue, LogThatCannotBeCreatedOrWrittenChangesNothingElse) {
    // A directory in the log's place cannot be opened for appending; a log
    // on a full device fails when its block is written, after the outcome.
    // An erase record that cannot take its started line stops the erase
    // (console and log), in either mode; a sanitize found running is
    // followed anyway, and the failure told once for both of its lines.
    const std::string running = R"({"sanitize_state": {"action": "block", "remaining_ms": 3000}})";
    const char* const refused = "Error: the erase record cannot be written, nothing was erased\n";
    const struct {
        std::vector<std::string> args;
        const char* log;
        std::string message;
        const char* before; // "" for the end
        bool erases;
        std::string controller;
    } cases[] = {
        {{"2Y", "1"}, LOG_AS_DIRECTORY, "Create Log File Error\n", "Drive", true, "{}"},
        {{"2Y", "1"}, LOG_ON_FULL_DEVICE, "Write Log File Error\n", "", true, "{}"},
        {{"2", "1", "1"},
         LOG_ON_FULL_DEVICE,
         "Write Log File Error\n",
         "\nPress any key",
         true,
         "{}"},
        {{"2Y", "7"}, LOG_ON_FULL_DEVICE, "Write Log File Error\n", "", true, "{}"},
        {{"2Y", "1"},
         RECORD_AS_DIRECTORY,
         "Write Record File Error\n" + std::string(refused),
         "Erased [",
         false,
         "{}"},
        {{"2SY"},
         RECORD_ON_FULL_DEVICE,
         "Write Record File Error\n" + std::string(refused),
         "Sanitizing",
         false,
         "{}"},
        {{"2SY"}, RECORD_AS_DIRECTORY, "Write Record File Error\n", "Sanitizing", true, running},
    };
    for (const auto& c : cases) {
        const RunResult logged = run_dialogue(jmicron_host(c.controller), c.args);
        const RunResult unlogged = run_dialogue(jmicron_host(c.controller), c.args, "", c.log);
        std::string expected = logged.out;
        const size_t at = *c.before ? expected.find(c.before) : expected.size();
        expected = c.erases ? expected.insert(at, c.message) : expected.substr(0, at) + c.message;
        EXPECT_EQ(unlogged.out, expected) << c.args[0];
        EXPECT_EQ(unlogged.status, c.erases ? logged.status : 8) << c.args[0];
        if (!c.erases) {
            EXPECT_TRUE(ends_with(unlogged.log, refused)) << unlogged.log;
            EXPECT_EQ(count_substr(unlogged.out, "Sanitizing"), 0);
        }
        EXPECT_EQ(format_blocks(unlogged.trace).size(),
                  c.erases ? format_blocks(logged.trace).size() : 0u);
        EXPECT_TRUE(handles_balanced(unlogged.trace));
    }
}

TEST(Dialogue, UpperHalfOfNamespaceSizeCounts) {
    const RunResult run =
        run_dialogue(jmicron_host(R"({"nsze": 4294967296, "lbads": [9]})"), {"2Y"});
    EXPECT_NE(run.out.find("Size    : 2097152 MB\n"), std::string::npos) << run.out;
}
