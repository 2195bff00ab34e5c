// Internal consistency checks: a failed check is logged and the program carries on.
// The line goes to syslog, never to standard output, which is a worker's protocol pipe.
#pragma once

void ReportCheckFailure(const char* file, unsigned line);

#define QUILL_CHECK(condition)                                                 \
    do {                                                                       \
        if (!(condition)) ReportCheckFailure(__FILE__, __LINE__);              \
    } while (false)
