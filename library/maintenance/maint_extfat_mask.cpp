/* The check of a mask written to an extended-log mode. */
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "maintenance/maint_startup.h"
#include "tree/hm_status.h"

u32 orsa_extfat_check_mask(const char *value, u32 width, bool port_mask, u64 *mask)
{
    if (value == nullptr || value[0] != '0' || (value[1] != 'x' && value[1] != 'X')) {
        orsa_set_last_status(ORSA_STATUS_INVALID_VALUE, "Invalid value. Value should be in hex-decimal format.");
        return ORSA_STATUS_INVALID_VALUE;
    }
    const char *digits = value + 2;
    size_t n = strlen(digits);
    for (size_t i = 0; i < n; ++i) {
        if (!isxdigit((unsigned char)digits[i])) {
            orsa_set_last_status(ORSA_STATUS_INVALID_VALUE, "Invalid value. The valid values are 0-9, a-f and A-F.");
            return ORSA_STATUS_INVALID_VALUE;
        }
    }
    while (n > 1 && *digits == '0') {
        ++digits;
        --n;
    }
    u64 v = strtoull(digits, nullptr, 16);
    bool too_big = n > 16 || (width < 64 && v > ((1ull << width) - 1));
    if (too_big) {
        orsa_set_last_status(ORSA_STATUS_INVALID_VALUE,
                             port_mask ? "Invalid value. Please check MaxLoggingPorts property for valid PortMask."
                                       : "Invalid value. Please check MaxLoggingFunctions property for valid "
                                         "PCIFunctionMask.");
        return ORSA_STATUS_INVALID_VALUE;
    }
    *mask = v;
    return 0;
}
