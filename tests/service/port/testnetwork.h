#pragma once

#include <QString>

#include <functional>

// A private network for one test or benchmark, made the way tools/netns-testbed.sh makes one:
// the calling thread moves into a fresh network namespace (the PC side, 10.77.0.1/24), joined
// by a veth pair to a second fresh namespace (the device side, 10.77.0.2/24). Nothing reaches a
// real network, and both namespaces vanish with this object, or with the process. Root only.
class TestNetwork
{
public:
    TestNetwork();
    ~TestNetwork();
    TestNetwork(const TestNetwork &) = delete;
    TestNetwork &operator=(const TestNetwork &) = delete;

    // False when not root or the namespaces could not be made; the thread is then left alone.
    bool isReady() const { return ready; }
    static QString deviceAddress() { return QStringLiteral("10.77.0.2"); }

    // Sets the device side's end of the pair up or down: while it is down, nothing at the
    // device's address answers, as when a device is switched off.
    bool setDeviceLinkUp(bool up);
    // Runs work with this thread on the device side: sockets it makes belong to that side.
    void onDeviceSide(const std::function<void()> &work);

private:
    bool build();
    // Runs the ip tool with the words of command.
    bool ip(const QString &command);

    int home = -1;
    int pcSide = -1;
    int deviceSide = -1;
    bool ready = false;
};
