#include "convert/core/check.h"

#include <syslog.h>

void ReportCheckFailure(const char* file, unsigned line) {
    syslog(LOG_DEBUG, "Quillaven: check failed at %s:%u\n", file, line);
}
