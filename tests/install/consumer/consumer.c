/* Prints the version of the installed library. */
#include <qeltble.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    const char* version = QELTBLE_GetApiVersion();
    printf("%s\n", version);
    return strcmp(version, "1.24.2.0") == 0 ? 0 : 1;
}
