// lumoprobe: which instruments answer on a serial line, at which baud, in
// which protocol, how fast, and what was wrong with what came back. For the
// maintainer commissioning a line; it refuses a port a station holds.
//
//   lumoprobe [--baud N] [--json] [--dir PROGRAM_DIRECTORY] PORT
//
// PORT is a port number as the stations number them (3 or COM3: on Linux the
// comN link in PROGRAM_DIRECTORY, default the current one, else
// /dev/ttyS<N-1>) or, on Linux, a device path. Without --baud every baud of
// the stations' table is scanned, from 600 to 19200.

#include "baudtable.h"
#include "scan.h"
#include "stationport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

using namespace lumo;
using namespace lumo::probe;
using std::chrono::microseconds;

constexpr int kAddresses = 39;

struct Options {
    std::optional<int> baud;
    bool json = false;
    QString directory = QDir::currentPath();
    QString port;
};

int usage(const std::string& why)
{
    std::fprintf(stderr, "lumoprobe: %s\nusage: lumoprobe [--baud N] [--json] [--dir PROGRAM_DIRECTORY] PORT\n",
                 why.c_str());
    return 2;
}

// One request and what comes back, waiting on the event loop: for the first
// byte as long as an instrument needs to react, then for the rest.
class Line {
public:
    explicit Line(SerialPort& port) : port_(port)
    {
        port_.setReceiveHandler([this](int) { collect(); });
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &loop_, &QEventLoop::quit);
    }

    Heard exchange(Protocol protocol, int address, const LineSettings& line)
    {
        pause(silenceBefore(line));
        port_.clearOutput();
        port_.clearInput();
        heard_ = {};
        expected_ = answerLengthOf(protocol);
        const Bytes request = requestOf(protocol, address);
        port_.write(request);
        clock_.start();
        waitUntil(firstByteWait(protocol, line));
        if (!heard_.bytes.empty() && heard_.bytes.size() < expected_)
            waitUntil(*heard_.firstAfter + restOfAnswerWait(protocol, line));
        return heard_;
    }

private:
    microseconds elapsed() const { return microseconds(clock_.nsecsElapsed() / 1000); }

    void collect()
    {
        const Result<Bytes> read = port_.readWaiting();
        if (!read.ok() || read.value().empty())
            return;
        if (!heard_.firstAfter)
            heard_.firstAfter = elapsed();
        heard_.lastAfter = elapsed();
        heard_.bytes.insert(heard_.bytes.end(), read.value().begin(), read.value().end());
        if (heard_.bytes.size() >= expected_)
            loop_.quit();
    }

    // Runs the event loop until `deadline` after the request, or until the
    // whole answer is there.
    void waitUntil(microseconds deadline)
    {
        const microseconds left = deadline - elapsed();
        if (left.count() <= 0 || heard_.bytes.size() >= expected_)
            return;
        timer_.start(static_cast<int>((left.count() + 999) / 1000));
        loop_.exec();
        timer_.stop();
    }

    void pause(microseconds time)
    {
        timer_.start(static_cast<int>((time.count() + 999) / 1000));
        loop_.exec();
    }

    SerialPort& port_;
    QEventLoop loop_;
    QTimer timer_;
    QElapsedTimer clock_;
    Heard heard_;
    std::size_t expected_ = 0;
};

std::optional<Options> parse(const QStringList& arguments, std::string& error)
{
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == "--json") {
            options.json = true;
        } else if ((a == "--baud" || a == "--dir") && i + 1 < arguments.size()) {
            const QString value = arguments[++i];
            if (a == "--dir") {
                options.directory = value;
                continue;
            }
            if (baudTextInUse(value.toStdString()) != value.toStdString()) {
                error = "baud " + value.toStdString() + " is not one of 600 1200 2400 4800 9600 14400 19200";
                return std::nullopt;
            }
            options.baud = value.toInt();
        } else if (!a.startsWith("--") && options.port.isEmpty()) {
            options.port = a;
        } else {
            error = "what is " + a.toStdString() + "?";
            return std::nullopt;
        }
    }
    if (options.port.isEmpty()) {
        error = "which port?";
        return std::nullopt;
    }
    return options;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::string error;
    const std::optional<Options> options = parse(app.arguments(), error);
    if (!options)
        return usage(error);

    // A device path: reached as COM1 of a directory of its own.
    QTemporaryDir linkDirectory;
    QString directory = options->directory;
    int number = 0;
    if (options->port.startsWith('/')) {
        directory = linkDirectory.path();
        number = 1;
        if (!QFile::link(options->port, linkDirectory.filePath("com1")))
            return usage("cannot reach " + options->port.toStdString());
    } else {
        QString digits = options->port;
        if (digits.startsWith("com", Qt::CaseInsensitive))
            digits = digits.mid(3);
        number = digits.toInt();
    }
    StationPort port(directory.toStdString());
    Status opened = port.setPortNumber(number);
    if (opened.ok())
        opened = port.open();
    if (!opened.ok()) {
        std::fprintf(stderr, "lumoprobe: %s%s\n", opened.cause().empty() ? "" : (opened.cause() + "\n").c_str(),
                     opened.error().c_str());
        if (opened.cause().find("使用") != std::string::npos)
            std::fprintf(stderr, "lumoprobe: a station may be polling this port; end it before probing the line\n");
        return 3;
    }
    port.setNoHandshaking();
    port.setReceiveThreshold(1);

    const bool progress = isatty(fileno(stderr));
    Line line(port);
    std::vector<Finding> findings;
    std::vector<BaudScan> scanned;
    for (std::string_view baudText : kBaudTexts) {
        const int baud = std::stoi(std::string(baudText));
        if (options->baud && *options->baud != baud)
            continue;
        const LineSettings settings = lineSettingsForBaudText(baudText);
        port.setLineSettings(settings);
        QElapsedTimer took;
        took.start();
        for (int address = 1; address <= kAddresses; ++address) {
            if (progress)
                std::fprintf(stderr, "\r%d baud: address %d of %d ", baud, address, kAddresses);
            for (Protocol protocol : {Protocol::Block, Protocol::Modbus})
                if (auto found = judge(protocol, address, baud, line.exchange(protocol, address, settings)))
                    findings.push_back(*found);
        }
        scanned.push_back({baud, std::chrono::milliseconds(took.elapsed())});
        std::fprintf(stderr, "%s%d baud done in %.1f s\n", progress ? "\r" : "", baud, took.elapsed() / 1000.0);
    }
    const std::string report = options->json ? json(port.portNumber() ? "COM" + std::to_string(port.portNumber()) : "",
                                                    findings, scanned)
                                             : table(findings, scanned);
    std::fputs(report.c_str(), stdout);
    return 0;
}
