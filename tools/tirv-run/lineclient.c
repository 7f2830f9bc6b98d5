#define _GNU_SOURCE
#include "lineclient.h"

#include "portmatch.h"

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

/* The service answers within milliseconds; one that does not answer in this time is taken
 * to be away. Waits for a modem line are not bounded. */
static const struct timeval answer_time = { 2, 0 };

static enum tirv_ask_result exchange(int fd, const char *path,
    const struct tirv_line_request *request, struct tirv_line_answer *answer)
{
    struct sockaddr_un address = { .sun_family = AF_UNIX };
    strcpy(address.sun_path, path);
    const int bounded = request->op != TIRV_LINE_WAIT;
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &answer_time, sizeof answer_time);
    if (bounded)
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &answer_time, sizeof answer_time);
    if (connect(fd, (const struct sockaddr *)&address, sizeof address) != 0
        || send(fd, request, sizeof *request, MSG_NOSIGNAL) != (ssize_t)sizeof *request)
        return TIRV_ASK_UNREACHABLE;
    ssize_t size;
    do
        size = recv(fd, answer, sizeof *answer, 0);
    while (size < 0 && errno == EINTR && bounded);
    if (size < 0 && errno == EINTR)
        return TIRV_ASK_FAILED;
    if (size != (ssize_t)sizeof *answer || answer->version != TIRV_LINE_VERSION
        || answer->error == ENODEV)
        return TIRV_ASK_UNREACHABLE;
    if (answer->error != 0) {
        errno = answer->error;
        return TIRV_ASK_FAILED;
    }
    return TIRV_ASK_DONE;
}

enum tirv_ask_result tirv_line_ask(uint64_t device, enum tirv_line_op op, uint32_t value,
    uint32_t mask, struct tirv_line_answer *answer)
{
    const char *path = tirv_line_socket_path();
    if (!path)
        return TIRV_ASK_UNREACHABLE;
    const int saved = errno;
    const struct tirv_line_request request = {
        .version = TIRV_LINE_VERSION, .op = op, .value = value, .mask = mask, .device = device
    };
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    const enum tirv_ask_result result
        = fd < 0 ? TIRV_ASK_UNREACHABLE : exchange(fd, path, &request, answer);
    const int error = errno;
    if (fd >= 0)
        close(fd);
    errno = result == TIRV_ASK_FAILED ? error : saved;
    return result;
}
