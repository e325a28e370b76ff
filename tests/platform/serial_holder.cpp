// Holds a serial device open with QSerialPort (and so its lock file) until
// its standard input closes: serial_holder <device>. Prints "held" once open.

#include <QCoreApplication>
#include <QSerialPort>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "%s\n", qPrintable(port.errorString()));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char c;
        if (::read(STDIN_FILENO, &c, 1) <= 0)
            app.quit();
    });
    return app.exec();
}
