/* Checks one log line: "<ctime without newline>,<pid>,   <tag><message>". */
#ifndef TESTS_LIBRARY_TREE_LOG_LINE_H
#define TESTS_LIBRARY_TREE_LOG_LINE_H

#include <ctype.h>
#include <string.h>

#include <string>

/* "Thu Dec 10 12:31:11 2026": day, month, day of month (blank padded), time, year. */
inline bool is_ctime_text(const std::string &t)
{
    static const char *const days = "MonTueWedThuFriSatSun";
    static const char *const months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (t.size() != 24 || t[3] != ' ' || t[7] != ' ' || t[10] != ' ' || t[19] != ' ')
        return false;
    bool day = false, month = false;
    for (int i = 0; i < 7; i++)
        day |= t.compare(0, 3, days + 3 * i, 3) == 0;
    for (int i = 0; i < 12; i++)
        month |= t.compare(4, 3, months + 3 * i, 3) == 0;
    const char *pattern = "... ... #d dd:dd:dd dddd"; /* d digit, # digit or blank */
    for (int i = 0; i < 24; i++) {
        char p = pattern[i], c = t[i];
        if ((p == 'd' && !isdigit((unsigned char)c)) || (p == '#' && c != ' ' && !isdigit((unsigned char)c)) ||
            (p == ':' && c != ':'))
            return false;
    }
    return day && month;
}

/* Does line (with its newline) consist of the prefix for pid, tag and message? */
inline bool is_log_line(const std::string &line, int pid, const std::string &tag, const std::string &message)
{
    std::string rest = "," + std::to_string(pid) + ",   " + tag + message;
    return line.size() == 24 + rest.size() && is_ctime_text(line.substr(0, 24)) && line.substr(24) == rest;
}

/* Does some line of text pass is_log_line? */
inline bool has_log_line(const std::string &text, int pid, const std::string &tag, const std::string &message)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        if (is_log_line(text.substr(start, end - start), pid, tag, message))
            return true;
        start = end;
    }
    return false;
}

#endif
