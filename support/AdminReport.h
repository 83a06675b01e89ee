#pragma once

// Failures that an administrator must act on (a file that could not be read whole, a
// setting with a wrong value) go to the log and to standard error too: under systemd the
// journal keeps standard error, so the line is there even when the collector is not.

// One line at priority through SyslogSend, and the same text on standard error.
void ReportFailure(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The text on standard error only, and only the first time this exact text comes: for
// checks that run again and again on the same wrong value (where the log cannot go out,
// or at every connection).
void ReportOnce(const char* format, ...) __attribute__((format(printf, 1, 2)));
