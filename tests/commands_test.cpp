// Encoders and parsers: the admin commands, number reading, option letters,
// answers and descriptor texts.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "dialogue/console.h"
#include "dialogue/host_facts.h"
#include "nvme/admin_command.h"
#include "nvme/identify.h"
#include "nvme/sanitize.h"
#include "platform/wire.h"

TEST(FormatCommand, Cdw10CarriesFormatSesAndProtection) {
    const struct {
        int lbaf, ses;
        FormatProtection protection;
        uint32_t cdw10;
    } cases[] = {
        {0, 0, NO_PROTECTION, 0x000},
        {1, 1, NO_PROTECTION, 0x201},
        {0, 2, NO_PROTECTION, 0x400},
        {3, 1, NO_PROTECTION, 0x203},
        // NVMe 2.0: bits 5:4 of the format in bits 13:12; SES stays in 11:9.
        {0x13, 0, NO_PROTECTION, 0x1003},
        {0, 0xF, NO_PROTECTION, 0xE00},
        // MSET bit 4, PI bits 7:5, PIL bit 8, each held to its field.
        {1, 1, {0, 0, 1}, 0x211},
        {1, 1, {1, 0, 0}, 0x221},
        {2, 0, {3, 1, 1}, 0x172},
        {0x10, 1, {0xF, 3, 3}, 0x13F0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format_cdw10(c.lbaf, c.ses, c.protection), c.cdw10) << std::hex << c.cdw10;

    const AdminCommand format = format_command(1, 1, {2, 1, 0});
    EXPECT_EQ(format.cdw0, 0x80u);
    EXPECT_EQ(format.nsid, 1u);
    EXPECT_EQ(format.cdw10, 0x341u);
    EXPECT_EQ(format.cdw11 | format.cdw12 | format.cdw13 | format.cdw14 | format.cdw15, 0u);
}

TEST(SanitizeCommands, NoActionOutsideTheThree) {
    // The three actions' commands are checked byte for byte as sent, in
    // Program.SanitizeOnEveryPath.
    for (int action : {0, 4})
        EXPECT_EQ(sanitize_command(action).cdw10, 0u) << action;
    EXPECT_EQ(sanitize_action_of(0), 0);
}

TEST(SanitizeData, CapabilitiesAndStatusLogFields) {
    uint8_t identify[IDENTIFY_SIZE] = {};
    put_le32(identify, 328, 0xE0000005); // crypto, overwrite and bits the tool ignores
    EXPECT_EQ(sanitize_capabilities(identify), 0x5u);
    EXPECT_EQ(sanitize_action_bit(SANITIZE_CRYPTO_ERASE), 1u);
    EXPECT_EQ(sanitize_action_bit(SANITIZE_BLOCK_ERASE), 2u);
    EXPECT_EQ(sanitize_action_bit(SANITIZE_OVERWRITE), 4u);

    uint8_t page[SANITIZE_LOG_SIZE] = {};
    put_le16(page, 0, 0xCCCD); // 80.0003 %
    put_le16(page, 2, 0x01FA); // passes and GDE around status 2
    put_le32(page, 4, 0x0000000C);
    put_le32(page, 8, 0xFFFFFFFF);
    put_le32(page, 12, 7);
    put_le32(page, 16, 0);
    SanitizeLog decoded;
    decode_sanitize_log(page, &decoded);
    EXPECT_EQ(decoded.status, 2u);
    EXPECT_EQ(decoded.cdw10, 0x0Cu);
    EXPECT_EQ(sanitize_percent(decoded), 80u);
    EXPECT_EQ(sanitize_estimate(decoded, SANITIZE_OVERWRITE), 0u);
    EXPECT_EQ(sanitize_estimate(decoded, SANITIZE_BLOCK_ERASE), 7u);
    EXPECT_EQ(sanitize_estimate(decoded, SANITIZE_CRYPTO_ERASE), 0u);
}

TEST(IdentifyCommands, ControllerHasNsidZeroNamespaceHasNsidOne) {
    const AdminCommand controller = identify_controller_command();
    EXPECT_EQ(controller.cdw0, 0x06u);
    EXPECT_EQ(controller.nsid, 0u);
    EXPECT_EQ(controller.cdw10, 1u);
    const AdminCommand ns = identify_namespace_command();
    EXPECT_EQ(ns.cdw0, 0x06u);
    EXPECT_EQ(ns.nsid, 1u);
    EXPECT_EQ(ns.cdw10, 0u);
    EXPECT_EQ(ns.cdw11 | ns.cdw12 | ns.cdw13 | ns.cdw14 | ns.cdw15, 0u);
}

TEST(SubmissionEntry, WordsGoToDwordsZeroOneAndTenToFifteen) {
    const AdminCommand command = {0x11223380, 0x01, 0xA0A0A0A0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5};
    uint8_t entry[SUBMISSION_ENTRY_SIZE];
    memset(entry, 0xEE, sizeof entry); // left-over bytes must not survive
    build_submission_entry(&command, entry);
    EXPECT_EQ(get_le32(entry, 0), 0x11223380u);
    EXPECT_EQ(get_le32(entry, 4), 1u);
    for (uint32_t dword = 2; dword < 10; ++dword)
        EXPECT_EQ(get_le32(entry, 4 * dword), 0u) << "dword " << dword;
    EXPECT_EQ(get_le32(entry, 40), 0xA0A0A0A0u);
    EXPECT_EQ(get_le32(entry, 44), 0xB1u);
    EXPECT_EQ(get_le32(entry, 60), 0xF5u);
}

TEST(ReadNumber, LeadingDecimalIntegerOfTheText) {
    EXPECT_EQ(read_number(""), 0);
    EXPECT_EQ(read_number("x"), 0);
    EXPECT_EQ(read_number("7y"), 7);
    EXPECT_EQ(read_number("  \t42 rest"), 42);
    EXPECT_EQ(read_number("-1"), -1);
    EXPECT_EQ(read_number("+12"), 12);
    EXPECT_EQ(read_number("- 3"), 0);
    EXPECT_EQ(read_number("2YN"), 2);
}

TEST(ReadNumber, SaturatesOutsideTheSigned32BitRange) {
    EXPECT_EQ(read_number("2147483647"), INT32_MAX);
    EXPECT_EQ(read_number("2147483648"), INT32_MAX);
    EXPECT_EQ(read_number("4294967296"), INT32_MAX); // not drive 0
    EXPECT_EQ(read_number("99999999999999999999999999"), INT32_MAX);
    EXPECT_EQ(read_number("-2147483648"), INT32_MIN);
    EXPECT_EQ(read_number("-99999999999999999999"), INT32_MIN);
}

TEST(OptionLetters, AnywhereInTheDriveString) {
    EXPECT_TRUE(has_quiet_letter("2Y"));
    EXPECT_TRUE(has_quiet_letter("y2"));
    EXPECT_FALSE(has_quiet_letter("2N"));
    EXPECT_TRUE(has_serial_letter("2YN"));
    EXPECT_TRUE(has_serial_letter("n"));
    EXPECT_FALSE(has_serial_letter("7y"));
}

TEST(DriveString, NumberThenOnlyWhiteSpaceAndOptionLetters) {
    const struct {
        const char* text;
        int32_t drive; // -99: not a drive string
    } cases[] = {
        {"2", 2},   {" \t7y ", 7}, {"+3", 3},
        {"-1", -1}, {"0N", 0},     {"2 ys N", 2},
        {"", -99},  {"Y2", -99},   {"-y", -99},
        {"+", -99}, {"- 3", -99},  {"\xEF\xBB\xBF\x32", -99}}; // "2" after a byte-order mark
    for (const auto& c : cases) {
        int32_t drive = -99;
        EXPECT_EQ(read_drive(c.text, &drive), c.drive != -99) << c.text;
        EXPECT_EQ(drive, c.drive) << c.text;
    }
}

TEST(Choice, DigitsBetweenOptionalWhiteSpace) {
    const struct {
        const char* text;
        int32_t value; // -99: not a choice
    } cases[] = {{"1", 1},    {" 2 \t", 2}, {"0", 0},    {"99999999999", INT32_MAX},
                 {"", -99},   {" ", -99},   {"x", -99},  {"crypto", -99},
                 {"-1", -99}, {"+1", -99},  {"1x", -99}, {"1 2", -99}};
    for (const auto& c : cases) {
        int32_t value = -99;
        EXPECT_EQ(read_choice(c.text, &value), c.value != -99) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    EXPECT_TRUE(is_blank(" \t"));
    EXPECT_FALSE(is_blank(" 0"));
}

// `count` answers read from `input` as standard input, each followed by "|".
static std::string answers_from(const std::string& input, int count) {
    FILE* file = fopen("answers.txt", "wb");
    fwrite(input.data(), 1, input.size(), file);
    fclose(file);
    EXPECT_NE(freopen("answers.txt", "r", stdin), nullptr);
    AnswerStream stream;
    begin_answers(&stream);
    std::string joined;
    for (int i = 0; i < count; ++i) {
        char answer[ANSWER_SIZE];
        memset(answer, 'Z', sizeof answer);
        if (!read_answer(&stream, answer)) {
            joined += "!";
            break;
        }
        EXPECT_LT(strlen(answer), ANSWER_SIZE);
        joined += std::string(answer) + "|";
    }
    unlink("answers.txt");
    return joined;
}

TEST(ReadAnswer, ExactlyOneLinePerAnswer) {
    const std::string a127(127, 'a');
    const struct {
        std::string input;
        int count;
        std::string answers;
    } cases[] = {
        {"1\r\n\n yes\n", 3, "1|| yes|"},
        {"1\r2\r\r3\n", 4, "1|2||3|"}, // a lone CR ends a line
        {"1\r\n2\r\n", 3, "1|2||"},    // CR LF is one line end
        // A line that holds a NUL is no text (UTF-16 without its mark), even
        // past the characters kept.
        {std::string("1\n2\0x\nN\nY\n", 11), 4, "1|!"},
        {std::string("\0Y\r3\n", 6), 2, "!"},
        {std::string(200, 'a') + std::string("\0\n", 2), 1, "!"},
        // A byte-order mark only at the very start of input, and only whole.
        {"\xEF\xBB\xBF"
         "2\r\n1\r\n",
         2, "2|1|"},
        {"\xEF\xBB\xBF\n5\n", 2, "|5|"},
        {"\xEF\xBB"
         "2\n",
         1,
         "\xEF\xBB"
         "2|"},
        {"1\n\xEF\xBB\xBF"
         "2\n",
         2,
         "1|\xEF\xBB\xBF"
         "2|"},
        // End of input: what came before it, then empty answers.
        {"", 2, "||"},
        {"3", 2, "3||"},
        {"3\r", 2, "3||"},
        // An overlong line keeps its first 127 characters and drops the rest,
        // its line end included; exactly 127 take no second answer.
        {a127 + std::string(300, 'b') + "\n2\n", 2, a127 + "|2|"},
        {a127 + std::string(300, 'b') + "\r\n2\n", 2, a127 + "|2|"},
        {std::string(127, 'c') + "\nY\n", 2, std::string(127, 'c') + "|Y|"},
        {std::string(125, 'd') + "\xEF\xBB\xBF\n", 1, std::string(125, 'd') + "\xEF\xBB|"},
        // Up to 4096 bytes a line, past them the run ends; a UTF-16 mark counts only at the start.
        {std::string(4096, 'e') + "\n1\n", 2, std::string(127, 'e') + "|1|"},
        {std::string(4097, 'e') + "\n1\n", 2, "!"},
        {"1\n\xFF\xFE"
         "2\n",
         2,
         "1|\xFF\xFE"
         "2|"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(answers_from(c.input, c.count), c.answers) << c.input;
}

TEST(ReadAnswer, LoneCrEndsTheAnswerWithoutWaitingForMoreInput) {
    // The writer has sent "5\r" and keeps the pipe open: reading on after the
    // CR would block, and the alarm ends the process.
    EXPECT_EXIT(
        {
            int fds[2];
            if (pipe(fds) != 0 || write(fds[1], "5\r", 2) != 2)
                std::_Exit(3);
            stdin = fdopen(fds[0], "r");
            alarm(5);
            AnswerStream stream;
            begin_answers(&stream);
            char answer[ANSWER_SIZE];
            read_answer(&stream, answer);
            std::_Exit(strcmp(answer, "5") == 0 ? 0 : 4);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(DescriptorText, NeverReadsPastTheReply) {
    uint8_t reply[64];
    memset(reply, 'x', sizeof reply);
    memcpy(reply + 40, "Vendor\0Product", 15);
    char text[128];
    descriptor_text(reply, sizeof reply, 40, text, sizeof text);
    EXPECT_STREQ(text, "Vendor");
    descriptor_text(reply, sizeof reply, 47, text, sizeof text);
    EXPECT_STREQ(text, "Product");
    descriptor_text(reply, sizeof reply, 0, text, sizeof text);
    EXPECT_STREQ(text, "");
    descriptor_text(reply, sizeof reply, 64, text, sizeof text);
    EXPECT_STREQ(text, "");
    descriptor_text(reply, sizeof reply, 0xFFFFFFF0u, text, sizeof text);
    EXPECT_STREQ(text, "");
    // No terminator before the end: only what lies inside.
    descriptor_text(reply, sizeof reply, 60, text, sizeof text);
    EXPECT_STREQ(text, "xxxx");
}

TEST(IdentifyFields, TextsKeepTrailingSpacesAndStopAtZero) {
    uint8_t identify[4096];
    memset(identify, 0, sizeof identify);
    memcpy(identify + ID_CTRL_MN, "Model X                                 ", 40);
    memcpy(identify + ID_CTRL_FR, "FW1\0ABCD", 8);
    char model[42], firmware[10];
    identify_text(identify, ID_CTRL_MN, ID_CTRL_MN_SIZE, model);
    identify_text(identify, ID_CTRL_FR, ID_CTRL_FR_SIZE, firmware);
    EXPECT_EQ(std::string(model), "Model X                                 ");
    EXPECT_STREQ(firmware, "FW1");
}

TEST(IdentifyFields, GeometryFromNamespaceData) {
    uint8_t ns[4096];
    memset(ns, 0, sizeof ns);
    put_le64(ns, ID_NS_NSZE, 0x100000000ull);
    ns[ID_NS_NLBAF] = 0xF1;
    ns[ID_NS_FLBAS] = 0x51; // bit 4 (metadata at the end of the block) is not index
    ns[ID_NS_LBAF + 2] = 9;
    ns[ID_NS_LBAF + 6] = 12;
    ns[ID_NS_LBAF + 10] = 41; // shift count modulo 32
    ns[ID_NS_LBAF + 4 * 33 + 2] = 12;
    put_le16(ns, ID_NS_LBAF + 4 * 33, 8);
    EXPECT_EQ(namespace_size(ns), 0x100000000ull);
    EXPECT_EQ(highest_format_index(ns), 63u);
    EXPECT_EQ(current_format_index(ns), 33u);
    ns[29] = 0xFB; // DPS: PI type 3, PIL; bits 7:4 are not protection
    EXPECT_EQ(protection_type(ns) << 8 | protection_first(ns) << 4 | metadata_inline(ns), 0x311u);
    EXPECT_EQ(lba_data_size(ns, 0), 512u);
    EXPECT_EQ(lba_data_size(ns, 1), 4096u);
    EXPECT_EQ(lba_data_size(ns, 2), 512u);
    EXPECT_EQ(lba_data_size(ns, 3), 1u);
    EXPECT_EQ(listed_formats(ns), 2u); // LBADS 41 is no size
    EXPECT_EQ(capacity_mb(ns), 16777216.0);
    char text[LBA_SIZE_TEXT];
    lba_size_text(ns, 33, text);
    EXPECT_STREQ(text, "4096+8");
    // No 64-bit product wraps: 2^64 - 1 blocks of 2^31 bytes.
    put_le64(ns, ID_NS_NSZE, ~0ull);
    ns[ID_NS_LBAF + 4 * 33 + 2] = 31;
    EXPECT_EQ(capacity_mb(ns), 18446744073709551615.0 * 2048);
}
