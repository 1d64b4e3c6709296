/* The public header is a C header: this file includes it as C and checks
 * that the records have their documented sizes from C as well. */
#include "qeltble.h"

_Static_assert(sizeof(QELTBLE_HANDLE) == 8, "handle is 64-bit");

/* Called from the C++ test so that the C translation unit is linked. */
size_t qeltble_c_device_information_size(void);
size_t qeltble_c_device_information_size(void) {
    QELTBLE_DEVICE_INFORMATION info;
    return sizeof info;
}
