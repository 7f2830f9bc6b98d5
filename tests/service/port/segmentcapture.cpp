#include "segmentcapture.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

quint16 word(const QByteArray &bytes, int at)
{
    return quint16(quint8(bytes.at(at)) << 8 | quint8(bytes.at(at + 1)));
}

} // namespace

SegmentCapture::SegmentCapture(const QString &interface)
{
    const unsigned index = if_nametoindex(interface.toLatin1().constData());
    fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_IP));
    sockaddr_ll address {};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_IP);
    address.sll_ifindex = int(index);
    if (fd >= 0
        && (index == 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)) {
        close(fd);
        fd = -1;
    }
}

SegmentCapture::~SegmentCapture()
{
    if (fd >= 0)
        close(fd);
}

QList<int> SegmentCapture::payloads(quint16 tcpPort)
{
    QByteArray packet(65536, Qt::Uninitialized);
    ssize_t count;
    while (fd >= 0 && (count = recv(fd, packet.data(), size_t(packet.size()), 0)) > 0)
        packets.append(packet.left(int(count)));
    QList<int> sizes;
    for (const QByteArray &ip : qAsConst(packets)) {
        const int header = (quint8(ip.at(0)) & 0x0f) * 4;
        if (ip.size() < header + 20 || quint8(ip.at(9)) != IPPROTO_TCP
            || word(ip, header + 2) != tcpPort)
            continue;
        const int payload = word(ip, 2) - header - (quint8(ip.at(header + 12)) >> 4) * 4;
        if (payload > 0)
            sizes.append(payload);
    }
    return sizes;
}
