/* A C program that uses the installed function layer. */
#include <halcyonix.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    char path[64];
    if (strcmp(aVersion_GetString(), "2.12.1") != 0) return 1;
    if (strcmp(aError_GetErrorText(aErrTimeout), "aErrTimeout") != 0) return 1;
    if (aDirectory_JoinPath(path, sizeof path, "/a", "b") != aErrNone || strcmp(path, "/a/b") != 0) return 1;
    printf("C consumer: library %s, model 26 is %s\n", aVersion_GetString(), aDefs_GetModelName(26));
    return 0;
}
