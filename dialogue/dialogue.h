// The dialogue with the operator, from the banner to the key wait.
#pragma once

#include <cstdint>

#define VELTRANE_VERSION "0.7a"
#define LOG_FILE_NAME "veltrane-log.txt"

extern uint32_t g_quiet;
extern uint32_t g_log_serial;
extern uint8_t g_is_usb;

// The whole run; `main` hands over to it. Returns the exit status, 0: the
// outcome is reported in text only.
int dialogue_main(int argc, char** argv);
