#include "bytebuffer.h"

#include <cstring>

// Pages are left untouched until used, so idle ports cost address space, not memory.
ByteBuffer::ByteBuffer(int capacity)
    : bytes(new char[capacity])
    , capacity(capacity)
{
}

char *ByteBuffer::tail(int *room)
{
    if (begin > 0 && end == capacity) {
        std::memmove(bytes.get(), bytes.get() + begin, size_t(end - begin));
        end -= begin;
        begin = 0;
    }
    *room = capacity - end;
    return bytes.get() + end;
}

void ByteBuffer::consumed(int count)
{
    begin += count;
    if (begin == end)
        begin = end = 0;
}
