#include "programend.h"

#include <QFile>
#include <QSocketNotifier>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

ProgramEnd::ProgramEnd(const QString &path)
    : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
{
    if (fd < 0)
        return;
    termios attributes;
    tcgetattr(fd, &attributes);
    cfmakeraw(&attributes);
    tcsetattr(fd, TCSANOW, &attributes);
    watch();
}

ProgramEnd::ProgramEnd(int descriptor)
    : fd(descriptor)
{
    watch();
}

void ProgramEnd::watch()
{
    reader = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    writer = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    writer->setEnabled(false);
    connect(reader, &QSocketNotifier::activated, this, &ProgramEnd::readSome);
    connect(writer, &QSocketNotifier::activated, this, &ProgramEnd::writeSome);
}

ProgramEnd::~ProgramEnd()
{
    close();
}

void ProgramEnd::write(const QByteArray &bytes)
{
    out += bytes;
    writeSome();
}

void ProgramEnd::close()
{
    delete reader;
    delete writer;
    reader = writer = nullptr;
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void ProgramEnd::readSome()
{
    char buffer[65536];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0)
        received.append(buffer, int(count));
}

void ProgramEnd::writeSome()
{
    ssize_t count;
    while (written < out.size()
        && (count = ::write(fd, out.constData() + written, size_t(out.size() - written))) > 0)
        written += int(count);
    writer->setEnabled(written < out.size());
}
