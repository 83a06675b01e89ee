#pragma once

#include <cstdarg>
#include <ctime>
#include <string>

// The one log call of the service: each line goes as one UDP datagram to the collector
// named in syslog.ini (section SYSLOG, key DESTINATION, default 127.0.0.1), port 514.
// Usable from every thread; it never throws and never reports failure to its callers.

// Sends one line at priority (0..7, optionally with facility bits). Returns the number of
// bytes sent, or -1 when the line could not be sent; a line above the threshold sends
// nothing and returns 0.
int SyslogSend(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
int SyslogSendV(int priority, const char* format, va_list args);

// Sets the highest level that is sent (0..7) and returns the previous one.
int SetLogThreshold(int level);

// Sets tag, option and facility. A facility outside the syslog facilities (0..88 and
// 128..184 in steps of 8) makes the call do nothing. Option 8 opens the socket at once.
void OpenSyslog(const char* tag, int option, int facility);

// Closes the socket and forgets the destination; the next line opens it again, re-reading
// syslog.ini.
void CloseSyslog();

// The datagram header for a line: "<pri>Mon dd hh:mm:ss host tag: ". Exposed so that the
// layout can be checked against a fixed time.
std::string FormatSyslogHeader(int priority, const std::tm& local, const std::string& host,
                               const std::string& tag);
