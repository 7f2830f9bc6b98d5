#pragma once

#include <memory>

// A byte queue of fixed capacity between two descriptors: it never grows, so a full buffer is
// the signal to stop reading the side that fills it.
class ByteBuffer
{
public:
    explicit ByteBuffer(int capacity);

    int size() const { return end - begin; }
    bool isEmpty() const { return begin == end; }
    bool isFull() const { return size() == capacity; }
    void clear() { begin = end = 0; }

    // Free room at the back (room bytes), made contiguous; fill it, then call produced().
    char *tail(int *room);
    void produced(int count) { end += count; }

    // The queued bytes; send them, then call consumed().
    const char *head() const { return bytes.get() + begin; }
    void consumed(int count);

private:
    std::unique_ptr<char[]> bytes;
    int capacity;
    int begin = 0;
    int end = 0;
};
