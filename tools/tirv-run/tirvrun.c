/* tirv-run PROGRAM [ARGS...]: runs PROGRAM with the library that gives it modem lines, break,
 * data bits and parity on TIRV ports. The library is found relative to this program, as it is
 * installed and as it is built. */
#define _GNU_SOURCE
#include <errno.h>
#include <libgen.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int usage(FILE *out, int status)
{
    fputs("Usage: tirv-run PROGRAM [ARGS...]\n"
          "Runs PROGRAM so that on TIRV ports it can set DTR and RTS, send a break, set data\n"
          "bits and parity and read the modem lines, through the TIRV service.\n",
        out);
    return status;
}

/* Where the library is, from the folder of this program. */
static int find_library(char *path, size_t size)
{
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length < 0)
        return 0;
    self[length] = '\0';
    char joined[PATH_MAX * 2];
    snprintf(joined, sizeof joined, "%s/%s", dirname(self), TIRV_RUN_LIBRARY);
    return realpath(joined, path) && strlen(path) < size;
}

/* The loader splits LD_PRELOAD at spaces and colons. */
static int set_preload(const char *library)
{
    if (strpbrk(library, " :")) {
        fprintf(
            stderr, "tirv-run: %s: a space or colon in the path cannot be preloaded\n", library);
        return 0;
    }
    const char *before = getenv("LD_PRELOAD");
    char value[PATH_MAX * 4];
    const int length = before && *before ? snprintf(value, sizeof value, "%s:%s", library, before)
                                         : snprintf(value, sizeof value, "%s", library);
    /* Cut short, it would drop or break a library the caller preloads. */
    if (length < 0 || (size_t)length >= sizeof value) {
        fputs("tirv-run: LD_PRELOAD is too long to add the library to\n", stderr);
        return 0;
    }
    return setenv("LD_PRELOAD", value, 1) == 0;
}

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage(stderr, 2);
    if (strcmp(argv[1], "--help") == 0)
        return usage(stdout, 0);
    char library[PATH_MAX];
    if (!find_library(library, sizeof library)) {
        fprintf(stderr, "tirv-run: cannot find %s beside the program\n", TIRV_RUN_LIBRARY);
        return 127;
    }
    if (!set_preload(library))
        return 127;
    execvp(argv[1], argv + 1);
    fprintf(stderr, "tirv-run: %s: %s\n", argv[1], strerror(errno));
    return errno == ENOENT ? 127 : 126;
}
