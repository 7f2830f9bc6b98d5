#pragma once

#include "serviceprotocol.h"

#include <QByteArray>

// Cuts a byte stream into length-prefixed frames. A length word above the limit is refused as
// soon as it arrives, so a peer can never make the reader buffer more than one allowed frame.
class FrameReader
{
public:
    enum Status { Incomplete, Complete, TooLarge };

    explicit FrameReader(quint32 maxPayload = ServiceProtocol::kMaxPayload);

    void append(const char *data, int size);
    // Takes the next whole payload out of the buffer.
    Status next(QByteArray *payload);
    // The length the last refused frame claimed.
    quint32 refusedSize() const { return claimed; }

private:
    quint32 maxPayload;
    quint32 claimed = 0;
    QByteArray buffer;
};
