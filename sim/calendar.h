// UTC times of the simulated host: "YYYY-MM-DDThh:mm:ssZ" texts and the
// seconds since 1970-01-01 they stand for, in the proleptic Gregorian
// calendar.
#pragma once

#include <cstdint>
#include <string>

#include "platform/device.h"

// False for any text not of that exact form or naming no real time
// (2026-02-30, 24:00:00), and for years before 1970 or after 9999.
bool parse_utc(const std::string& text, int64_t* seconds);

// The SYSTEMTIME of `seconds` plus `ms` milliseconds, as GetSystemTime fills
// it (wDayOfWeek 0 for Sunday).
void utc_fields(int64_t seconds, uint64_t ms, SYSTEMTIME* time);
