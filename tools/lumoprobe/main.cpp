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
//
// Exit status: 0 the scan ran to its end (whether anything answered or
// not), 2 the command line is wrong, 3 the port cannot be opened, 4 the scan
// ended early (a baud the port refuses, a request it cannot send, the
// device gone); what was found until then is reported all the same.

#include "baudtable.h"
#include "gridmodel.h"
#include "line.h"
#include "scan.h"
#include "stationport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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

    std::vector<int> bauds;
    for (std::string_view baudText : kBaudTexts) {
        const int baud = std::stoi(std::string(baudText));
        if (!options->baud || *options->baud == baud)
            bauds.push_back(baud);
    }
    const bool progress = isatty(fileno(stderr));
    ProbeLine line(port);
    const ScanOutcome outcome = scanLine(
        port, bauds, [&](Protocol p, int address, const LineSettings& s) { return line.exchange(p, address, s); },
        [&](int baud, Protocol protocol, int address) {
            if (progress)
                std::fprintf(stderr, "\r%d baud: %s, address %d of %d ", baud, protocolName(protocol).c_str(), address,
                             kInstruments);
        });
    if (progress)
        std::fputs("\r", stderr);
    for (const BaudScan& scanned : outcome.bauds)
        std::fprintf(stderr, "%d baud done in %.1f s\n", scanned.baud, static_cast<double>(scanned.took.count()) / 1000.0);
    const std::string report = options->json ? json(options->port.toStdString(), outcome) : table(outcome);
    std::fputs(report.c_str(), stdout);
    if (!outcome.failure.empty()) {
        std::fprintf(stderr, "%slumoprobe: the scan ended early: %s\n", progress ? "\n" : "", outcome.failure.c_str());
        return 4;
    }
    return 0;
}
