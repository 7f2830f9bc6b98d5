#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// A program holding a COM link open as applications do (O_NOCTTY, raw mode), moving bytes
// through the event loop.
class ProgramEnd : public QObject
{
    Q_OBJECT

public:
    explicit ProgramEnd(const QString &path);
    // Takes over an open descriptor, as it is.
    explicit ProgramEnd(int descriptor);
    ~ProgramEnd() override;

    bool isOpen() const { return fd >= 0; }
    int descriptor() const { return fd; }
    void write(const QByteArray &bytes);
    // Bytes the pty has not taken yet.
    int pending() const { return out.size() - written; }
    void close();

    QByteArray received;

private:
    void watch();
    void readSome();
    void writeSome();

    int fd = -1;
    QSocketNotifier *reader = nullptr;
    QSocketNotifier *writer = nullptr;
    QByteArray out;
    int written = 0;
};
