/* One request to the service over the line channel (lineprotocol.h). Thread-safe and
 * async-signal-safe: a connection of its own per request, nothing allocated. */
#pragma once

#include "lineprotocol.h"

#include <stdint.h>

enum tirv_ask_result {
    /* The service carried it out; the answer says how the line stands. */
    TIRV_ASK_DONE,
    /* No answer to be had, or the pty is not the service's: the real call decides. errno is
     * kept. */
    TIRV_ASK_UNREACHABLE,
    /* The service refused it, or a wait was interrupted: errno says why. */
    TIRV_ASK_FAILED,
};

enum tirv_ask_result tirv_line_ask(uint64_t device, enum tirv_line_op op, uint32_t value,
    uint32_t mask, struct tirv_line_answer *answer);
