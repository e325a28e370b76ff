// lumosim: the flowmeter instruments' side of the RS-485 line, for tests and
// demonstrations. See README.md for the command line and the scenario format.

#include "eventlog.h"
#include "line.h"
#include "options.h"
#include "scenario.h"
#include "simulator.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace lumo::sim;

namespace {

int stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(stopPipe[1], &byte, 1);
}

bool installStopSignals()
{
    if (pipe(stopPipe) != 0)
        return false;
    fcntl(stopPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action{};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    std::signal(SIGPIPE, SIG_IGN);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "lumosim: %s\n", message.c_str());
    return 2;
}

LineOutcome openLine(const Options& options)
{
    if (options.devicePath.empty())
        return openPseudoTerminal();
    return openSerialDevice(options.devicePath, options.baud > 0 ? options.baud : 9600);
}

} // namespace

int main(int argc, char** argv)
{
    const OptionsOutcome parsed = parseOptions(argc, argv);
    if (!parsed.options)
        return fail(parsed.error + "\n" + usageText);
    const Options& options = *parsed.options;
    if (options.help) {
        std::fputs(usageText, stdout);
        return 0;
    }
    ScenarioOutcome loaded = loadScenario(options.scenarioPath);
    if (!loaded.scenario)
        return fail(loaded.error);
    EventLog log;
    std::string error;
    if (!options.logPath.empty() && !log.open(options.logPath, error))
        return fail(error);
    if (!installStopSignals())
        return fail("cannot install the signal handlers");
    LineOutcome opened = openLine(options);
    if (!opened.line)
        return fail(opened.error);
    Line line = *opened.line;
    if (!options.linkPath.empty() && !makeLink(options.linkPath, line.path, error)) {
        closeLine(line);
        return fail(error);
    }
    std::printf("%s\n", line.path.c_str());
    std::fflush(stdout);

    Simulator simulator(options, std::move(*loaded.scenario), line, log);
    const int status = simulator.run(stopPipe[0]);

    if (!options.linkPath.empty())
        ::unlink(options.linkPath.c_str());
    closeLine(line);
    return status;
}
