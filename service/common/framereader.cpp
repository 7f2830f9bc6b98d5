#include "framereader.h"

#include <QtEndian>

FrameReader::FrameReader(quint32 maxPayload)
    : maxPayload(maxPayload)
{
}

void FrameReader::append(const char *data, int size)
{
    buffer.append(data, size);
}

FrameReader::Status FrameReader::next(QByteArray *payload)
{
    if (buffer.size() < ServiceProtocol::kHeaderSize)
        return Incomplete;
    claimed = qFromBigEndian<quint32>(buffer.constData());
    if (claimed > maxPayload)
        return TooLarge;
    const int total = ServiceProtocol::kHeaderSize + int(claimed);
    if (buffer.size() < total)
        return Incomplete;
    *payload = buffer.mid(ServiceProtocol::kHeaderSize, int(claimed));
    buffer.remove(0, total);
    return Complete;
}
