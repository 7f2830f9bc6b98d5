#pragma once

#include <QList>
#include <QString>

// Sees every IPv4 packet that reaches one network interface, as a raw capture does, and picks
// out the TCP segments that carry data to a port: what a device really receives, one entry per
// segment, whatever the reader's recv() calls make of them. Root only; the interface is looked
// up in the network namespace of the thread that makes this.
class SegmentCapture
{
public:
    explicit SegmentCapture(const QString &interface);
    ~SegmentCapture();
    SegmentCapture(const SegmentCapture &) = delete;
    SegmentCapture &operator=(const SegmentCapture &) = delete;

    bool isOpen() const { return fd >= 0; }
    // The payload sizes of the data segments to tcpPort captured so far, in order of arrival.
    QList<int> payloads(quint16 tcpPort);

private:
    int fd = -1;
    QList<QByteArray> packets;
};
