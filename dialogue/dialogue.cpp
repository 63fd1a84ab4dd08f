// The operator's dialogue: one straight pass from the banner to the key wait;
// every step either goes on or ends the run through the closing step.
#include "dialogue/dialogue.h"

#include <cstdio>
#include <cstring>

#include "dialogue/console.h"
#include "dialogue/host_facts.h"
#include "dialogue/options.h"
#include "dialogue/record.h"
#include "dialogue/run.h"
#include "dialogue/sanitize.h"
#include "dialogue/scope.h"
#include "dialogue/station.h"
#include "dialogue/check.h"
#include "dialogue/verify.h"
#include "dialogue/verify_only.h"
#include "dialogue/volumes.h"
#include "platform/report.h"
#include "nvme/identify.h"
#include "transport/transport.h"
#include "platform/wire.h"

uint32_t g_quiet = 0;
uint32_t g_log_serial = 0;

// Command-line arguments as far as they are given.
struct Arguments {
    const char* drive;
    const char* format;
    const char* ses;
    int sanitize;    // the letter S: sanitize mode, the second argument its action
    int verify_only; // the letter V: the drive is checked, not erased
};

// The dialogue's own handles: no sharing, from a path formatted with a number
// into a zero-filled 128-byte buffer.
static HANDLE open_exclusive(const char* path_format, int number) {
    char path[128];
    memset(path, 0, sizeof path);
    snprintf(path, sizeof path, path_format, number);
    return open_device(path, 0, FILE_ATTRIBUTE_NORMAL);
}

// The OS line, with the service-pack text shown as printable characters.
static void os_line(char* line, size_t size) {
    char service_pack[sizeof g_os_version.szCSDVersion + 1];
    memset(service_pack, 0, sizeof service_pack);
    memcpy(service_pack, g_os_version.szCSDVersion, sizeof g_os_version.szCSDVersion);
    make_printable(service_pack);
    snprintf(line, size, "OS: %d.%d build %d %s\n", static_cast<int>(g_os_version.dwMajorVersion),
             static_cast<int>(g_os_version.dwMinorVersion),
             static_cast<int>(g_os_version.dwBuildNumber), service_pack);
}

// The run's block goes to the log file in one write, after the outcome.
static void close_log(RunResources& run) {
    if (run.log && !log_close(run.log))
        printf("Write Log File Error\n");
    run.log = nullptr;
}

static void wait_for_key() {
    prompt("\nPress any key to exit\n");
    // Answers from a pipe or a file: nobody is there to press a key.
    if (!key_wait_begin())
        return;
    // Keys typed ahead would end the wait before the outcome can be read.
    while (console_key_waiting())
        console_read_key();
    while (!console_key_waiting())
        idle_ms(50);
    while (console_key_waiting())
        console_read_key();
    key_wait_end();
}

// After the OS line, on the console and in the log, when the host runs
// Windows PE.
static const char* const WINDOWS_PE_LINE = "Mode    : Windows PE\n";

static const char* ses_text(int ses) {
    static const char* const texts[3] = {"0 - No secure erase\n", "1 - User Data Erase\n",
                                         "2 - Cryptographic Erase\n"};
    return texts[ses];
}

// Steps from the handles to the report; returns the run's exit status when
// it ends, whatever the reason. The caller closes what was opened.
static int run_drive(const Arguments& args, AnswerStream* answers, RunResources& run) {
    DriveState* drive = &run.drive;
    drive->disk = open_exclusive("\\\\.\\PhysicalDrive%d", drive->number);
    if (drive->disk == INVALID_HANDLE_VALUE) {
        printf("Error open disk\n");
        return EXIT_NOT_REACHED;
    }

    uint8_t* address = run.address;
    memset(address, 0, SCSI_ADDRESS_SIZE);
    if (!drive->is_usb) {
        if (!device_control(drive->disk, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address,
                            SCSI_ADDRESS_SIZE)) {
            report(run.log, "IOCTL: Error scsi get address\n");
            return EXIT_NOT_REACHED;
        }
        drive->namespace_id = address[SCSI_ADDRESS_LUN] + 1u;
        const uint8_t port_number = address[SCSI_ADDRESS_PORT_NUMBER];
        report(run.log, "Scsi    : %u\n", static_cast<unsigned>(port_number));
        drive->port = open_exclusive("\\\\.\\SCSI%d:", port_number);
        if (drive->port == INVALID_HANDLE_VALUE) {
            printf("Error open scsi device\n");
            return EXIT_NOT_REACHED;
        }
    }

    uint8_t identify[IDENTIFY_SIZE];
    memset(identify, 0, sizeof identify);
    if (!detect_transport(drive, identify, run.log))
        return drive->old_asmedia ? EXIT_NOT_SUPPORTED : EXIT_NOT_REACHED;

    char model[ID_CTRL_MN_SIZE + 2];
    char firmware[ID_CTRL_FR_SIZE + 2];
    char serial[ID_CTRL_SN_SIZE + 2];
    identify_text(identify, ID_CTRL_MN, ID_CTRL_MN_SIZE, model);
    identify_text(identify, ID_CTRL_FR, ID_CTRL_FR_SIZE, firmware);
    identify_text(identify, ID_CTRL_SN, ID_CTRL_SN_SIZE, serial);
    make_printable(model);
    make_printable(firmware);
    make_printable(serial);
    report(run.log, "Model   : %s\nFw      : %s\n", model, firmware);
    printf("S/N     : %s\n", serial);
    if (g_log_serial)
        log_only(run.log, "S/N     : %s\n", serial);
    record_identity(&run.record, drive->transport, model, firmware, serial);
    record_maker(&run.record, identify);

    // Outside Windows PE the inbox driver does not carry Format NVM.
    if (drive->transport == TRANSPORT_NONE ||
        (drive->transport == TRANSPORT_INBOX && !args.sanitize && !args.verify_only &&
         !drive->windows_pe)) {
        report(run.log, "Error - possible incompatible nvme driver\n");
        if (drive->transport == TRANSPORT_INBOX)
            sanitize_hint(drive, identify);
        return EXIT_NOT_SUPPORTED;
    }
    // The OFA driver reaches namespace 1 of the controller behind the port,
    // whichever drive was chosen: only the drive at address 0 is that one.
    // The inbox driver's format in Windows PE carries NSID 1, whichever of
    // the controller's disks it is sent on: only the one at LUN 0 is that
    // namespace.
    if ((drive->transport == TRANSPORT_OFA &&
         (address[SCSI_ADDRESS_PATH_ID] || address[SCSI_ADDRESS_TARGET_ID] ||
          address[SCSI_ADDRESS_LUN])) ||
        (drive->transport == TRANSPORT_INBOX && drive->windows_pe && !args.sanitize &&
         address[SCSI_ADDRESS_LUN])) {
        report(run.log, "Error: drive %u is not namespace 1 of its controller\n",
               static_cast<unsigned>(drive->number));
        return EXIT_REFUSED;
    }
    if (args.sanitize) {
        SanitizeResult sanitized;
        return sanitize_drive(run, identify, args.format, answers, &sanitized);
    }
    if (args.verify_only)
        return verify_only_drive(run);

    // Without the namespace data the current format is unknown: a format
    // chosen from a zeroed buffer could change the LBA size while saying it
    // does not.
    uint8_t ns[IDENTIFY_SIZE];
    uint32_t current_size = 0;
    uint64_t capacity = 0;
    if (const int status = read_namespace(run, ns, &current_size, &capacity))
        return status;
    const uint32_t current = current_format_index(ns);

    report(run.log, "LBA fmt list:\n##  LBAsize\n");
    const uint32_t listed = listed_formats(ns); // rows shown: only these can be chosen
    char size_text[LBA_SIZE_TEXT];
    for (uint32_t i = 0; i < listed; ++i) {
        lba_size_text(ns, i, size_text);
        report(run.log, "%2u%c %4s\n", i, i == current ? '+' : ' ', size_text);
    }

    char answer[ANSWER_SIZE];
    int32_t chosen = static_cast<int32_t>(current); // quiet mode, or a blank answer
    int readable = 1;
    if (args.format) {
        readable = read_choice(args.format, &chosen);
    } else if (!g_quiet) {
        prompt("Please select LBA data size format number:");
        if (!read_answer(answers, answer))
            return EXIT_BAD_INPUT;
        readable = is_blank(answer) || read_choice(answer, &chosen);
    }
    if (!readable || static_cast<uint32_t>(chosen) >= listed) {
        printf("Error: wrong LBA data size format\n");
        return EXIT_BAD_INPUT;
    }
    const uint32_t new_size = lba_data_size(ns, static_cast<uint32_t>(chosen));
    set_number(&run.record.lba_size_after, new_size);
    char current_text[LBA_SIZE_TEXT];
    lba_size_text(ns, current, current_text);
    lba_size_text(ns, static_cast<uint32_t>(chosen), size_text);
    if (static_cast<uint32_t>(chosen) == current)
        report(run.log, "Dont change - Secure Erase only\n");
    else
        report(run.log, "Change LBA data size format (%s->%s)\n", current_text, size_text);
    // Firmware that boots only from 512-byte blocks, and enclosures and boot
    // tools that read no other size, are common enough to be told once.
    if (new_size != current_size && new_size != 512)
        printf("Note: some computers cannot boot from, and some USB enclosures cannot read, a "
               "drive with %u-byte blocks\n",
               new_size);

    int32_t ses = 1; // quiet mode, or a blank answer
    if (args.ses) {
        readable = read_choice(args.ses, &ses);
    } else if (!g_quiet) {
        prompt("\nPlease select SES action (0/1/2 - default 1):");
        if (!read_answer(answers, answer))
            return EXIT_BAD_INPUT;
        readable = is_blank(answer) || read_choice(answer, &ses);
    }
    if (!readable || ses > 2) {
        printf("Error: wrong SES action selected\n");
        return EXIT_BAD_INPUT;
    }
    report(run.log, "Selected SES action: ");
    report(run.log, "%s", ses_text(ses));
    // Without a secure erase the drive need not deallocate anything.
    if (ses == 0)
        run.verify->fill = VERIFY_NO_FILL;

    FormatProtection protection;
    EraseKind erase;
    erase.sanitize = 0;
    erase.followed = 0;
    erase.ses = ses;
    erase.protection_lost = format_protection(ns, static_cast<uint32_t>(chosen), &protection);
    if (const int status = settle_scope(run, identify, erase))
        return status;

    if (const int status =
            ready_to_erase(run, answers, 1, capacity, verify_unit(current_size, new_size)))
        return status;

    drive->timeout = ERASE_TIMEOUT_S;
    record_format(&run.record, static_cast<uint32_t>(chosen), static_cast<uint32_t>(ses));
    if (drive->transport == TRANSPORT_INBOX)
        run.record.route = "protocol command"; // the only format the inbox driver carries
    // No erase without the evidence that it was sent.
    if (!record_started(&run.record, run.log, 0))
        return EXIT_REFUSED;
    // What the console shows so far must survive a crash during the erase.
    fflush(stdout);
    const uint32_t start = tick_ms();
    const int erased = nvme_format(drive, chosen, ses, protection);
    const uint32_t elapsed = tick_ms() - start;
    record_completion(&run.record, drive);
    if (!erased)
        format_sanitize_hint(drive);
    int status;
    const char* outcome;
    char line[RECORD_TEXT_SIZE];
    if (erased) {
        outcome = "Erased";
        snprintf(line, sizeof line, "Erased [%u ms]!", elapsed);
        status = EXIT_ERASED;
    } else if (drive->no_answer) {
        outcome = "Possible Erased";
        snprintf(line, sizeof line, "Possible Erased [%u ms], re-plug drive!", elapsed);
        status = EXIT_POSSIBLY_ERASED;
    } else {
        outcome = "Erase error";
        snprintf(line, sizeof line, "Erase error [%u ms]!", elapsed);
        status = EXIT_ERASE_ERROR;
    }
    report(run.log, "%s\n", line);
    if (status != EXIT_ERASE_ERROR)
        status = verify_after_erase(run.verify, drive->disk, new_size, run.log, erased);
    // The record's final line follows the run's last outcome line.
    record_verification(&run.record, run.verify);
    record_outcome(&run.record, outcome, line, elapsed, status);
    write_record(&run.record);
    return status;
}

int dialogue_main(int argc, char** argv) {
    read_os_version();
    const int windows_pe = read_windows_pe();
    printf("Veltrane (FormatUnit) v%s by Brastel\n", VELTRANE_VERSION);
    char os[sizeof g_os_version.szCSDVersion + 64];
    os_line(os, sizeof os);
    printf("%s", os);
    if (windows_pe)
        printf("%s", WINDOWS_PE_LINE);
    g_quiet = 0;
    g_log_serial = 0;

    Options options;
    if (!read_options(argc, argv, &options)) {
        printf("Error: unknown option %s\n", options.unknown);
        fflush(stdout);
        return EXIT_BAD_INPUT;
    }
    static Station station;
    if (!station_options_fit(&options) || !read_station(&station)) {
        fflush(stdout);
        return EXIT_BAD_INPUT;
    }
    if (options.check.given || options.certificates.given) {
        const int status = record_mode(options, station);
        fflush(stdout);
        return status;
    }
    // Too large for the stack; one run at a time uses it.
    static VerifySamples verify;
    if (!verify_begin(&verify, options.verify.given, options.verify.value)) {
        fflush(stdout);
        return EXIT_BAD_INPUT;
    }
    Arguments args;
    args.drive = options.positional[0];
    args.format = options.positional[1];
    args.ses = options.positional[2];
    args.sanitize = 0;
    args.verify_only = 0;

    AnswerStream answers;
    begin_answers(&answers);
    char drive_answer[ANSWER_SIZE];
    const char* drive_text;
    int32_t drive;
    if (!args.drive) {
        list_drives();
        prompt("Please select drive number:");
        if (!read_answer(&answers, drive_answer)) {
            fflush(stdout);
            return EXIT_BAD_INPUT;
        }
        drive_text = drive_answer;
    } else {
        drive_text = args.drive;
    }
    // Anything but the number and option letters would be read as some
    // drive, with option letters from whatever the text holds.
    if (!read_drive(drive_text, &drive) || (!args.drive && (drive < 0 || drive > 99))) {
        printf("Error: bad drive number\n");
        fflush(stdout);
        return EXIT_BAD_INPUT;
    }
    if (has_quiet_letter(drive_text))
        g_quiet = 1;
    if (has_serial_letter(drive_text))
        g_log_serial = 1;
    if (has_sanitize_letter(drive_text))
        args.sanitize = 1;
    if (has_verify_letter(drive_text))
        args.verify_only = 1;
    // Drive, LBA format and SES; in sanitize mode drive and action; a check
    // alone takes the drive only.
    if (options.positional_count > (args.sanitize ? 2u : args.verify_only ? 1u : 3u)) {
        printf("Error: too many arguments\n");
        fflush(stdout);
        return EXIT_BAD_INPUT;
    }

    char log_name[128];
    memset(log_name, 0, sizeof log_name);
    strcpy(log_name, LOG_FILE_NAME);
    // Too large for the stack, like the samples below.
    static LogBlock block;
    RunResources run;
    record_begin(&run.record, static_cast<uint32_t>(drive), windows_pe);
    record_station(&run.record, &station, &options);
    run.log = log_open(&block, log_name) ? &block : nullptr;
    drive_state_init(&run.drive, drive);
    run.drive.windows_pe = static_cast<uint8_t>(windows_pe);
    run.volumes.count = 0;
    run.verify = &verify;
    if (!run.log)
        printf("Create Log File Error\n");
    log_only(run.log, "v%s\n", VELTRANE_VERSION);
    log_only(run.log, "%s", os);
    if (windows_pe)
        log_only(run.log, "%s", WINDOWS_PE_LINE);

    // The bus query shares the drive; the disk of the running system is
    // refused before the drive is opened for the run.
    run.drive.bus_type = query_bus_type(drive, &run.record.vendor, &run.record.product);
    if (run.drive.bus_type == BusTypeUsb)
        run.drive.is_usb = 1;
    const int system_disk = holds_running_system(drive);
    run.record.bus = run.drive.is_usb ? "USB" : "NVME";
    report(run.log, "Drive   : %u(%s)\n", static_cast<unsigned>(drive),
           run.drive.is_usb ? "USB" : "NVME");

    int status;
    if (system_disk) {
        report(run.log, "Error: drive %u holds the running system\n", static_cast<unsigned>(drive));
        status = EXIT_REFUSED;
    } else {
        status = run_drive(args, &answers, run);
    }

    close_log(run);
    if (run.drive.disk != INVALID_HANDLE_VALUE)
        close_device(run.drive.disk);
    if (run.drive.port != INVALID_HANDLE_VALUE)
        close_device(run.drive.port);
    release_volumes(&run.volumes);
    verify_release(&verify);
    if (!g_quiet)
        wait_for_key();
    fflush(stdout);
    return status;
}
