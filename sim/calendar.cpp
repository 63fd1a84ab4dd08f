// Calendar arithmetic on days since 1970-01-01: eras of 400 years, years
// that begin in March, so that the leap day comes last.
#include "sim/calendar.h"

namespace {

int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool digits(const std::string& text, size_t at, size_t count, unsigned* value) {
    *value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        *value = *value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

} // namespace

bool parse_utc(const std::string& text, int64_t* seconds) {
    unsigned year, month, day, hour, minute, second;
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z' || !digits(text, 0, 4, &year) ||
        !digits(text, 5, 2, &month) || !digits(text, 8, 2, &day) || !digits(text, 11, 2, &hour) ||
        !digits(text, 14, 2, &minute) || !digits(text, 17, 2, &second))
        return false;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 ||
        second > 59)
        return false;
    const int64_t days = days_from_civil(year, month, day);
    int64_t y;
    unsigned m, d;
    civil_from_days(days, &y, &m, &d);
    if (m != month || d != day) // a day the month does not have
        return false;
    *seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

void utc_fields(int64_t seconds, uint64_t ms, SYSTEMTIME* time) {
    const int64_t total_ms = seconds * 1000 + static_cast<int64_t>(ms);
    const int64_t days = total_ms / 86400000;
    const int64_t in_day = total_ms % 86400000;
    int64_t year;
    unsigned month, day;
    civil_from_days(days, &year, &month, &day);
    time->wYear = static_cast<WORD>(year);
    time->wMonth = static_cast<WORD>(month);
    time->wDayOfWeek = static_cast<WORD>((days + 4) % 7); // 1970-01-01 was a Thursday
    time->wDay = static_cast<WORD>(day);
    time->wHour = static_cast<WORD>(in_day / 3600000);
    time->wMinute = static_cast<WORD>(in_day / 60000 % 60);
    time->wSecond = static_cast<WORD>(in_day / 1000 % 60);
    time->wMilliseconds = static_cast<WORD>(in_day % 1000);
}
