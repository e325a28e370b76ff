// Holds a serial device open the way another program on the station would,
// until its standard input is closed. Prints "open" once it holds the device.

#include <QCoreApplication>
#include <QSerialPort>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: serial_holder DEVICE\n");
        return 2;
    }
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "%s\n", qPrintable(port.errorString()));
        return 1;
    }
    std::printf("open\n");
    std::fflush(stdout);
    char c;
    while (::read(STDIN_FILENO, &c, 1) > 0) {
    }
    return 0;
}
