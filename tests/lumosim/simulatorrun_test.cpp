// Runs the real lumosim binary over a pseudo-terminal, as the end-to-end tests
// of both programs do.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Bytes = std::vector<unsigned char>;

// The files the tests make in the temp directory go when the program ends.
std::vector<std::string>& madeFiles()
{
    static std::vector<std::string> files;
    return files;
}

struct RemoveMadeFiles : ::testing::Environment {
    void TearDown() override
    {
        for (const std::string& file : madeFiles())
            std::remove(file.c_str());
    }
};
[[maybe_unused]] ::testing::Environment* const removeMadeFiles =
    ::testing::AddGlobalTestEnvironment(new RemoveMadeFiles);

std::string tempPath(const std::string& name)
{
    std::string path = ::testing::TempDir() + "lumosim_" + std::to_string(getpid()) + "_" + name;
    madeFiles().push_back(path);
    return path;
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Reads from fd until `count` bytes came or nothing more arrives for waitMs.
std::string readAvailable(int fd, std::size_t count, int waitMs)
{
    std::string data;
    while (data.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, waitMs) <= 0)
            break;
        char buffer[512];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return data;
}

class SimulatorProcess {
public:
    explicit SimulatorProcess(std::vector<std::string> args)
    {
        int out[2], err[2], in[2];
        if (pipe(out) != 0 || pipe(err) != 0 || pipe(in) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        for (int fd : {out[0], out[1], err[0], err[1], in[0], in[1]})
            posix_spawn_file_actions_addclose(&actions, fd);
        args.insert(args.begin(), LUMOSIM_BINARY);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, LUMOSIM_BINARY, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        close(in[0]);
        stdout_ = out[0];
        stderr_ = err[0];
        stdin_ = in[1];
    }
    ~SimulatorProcess()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {stdout_, stderr_, stdin_})
            if (fd >= 0)
                close(fd);
    }
    std::string firstLine()
    {
        std::string line;
        for (;;) {
            pollfd p{stdout_, POLLIN, 0};
            char c = 0;
            if (poll(&p, 1, 5000) <= 0 || read(stdout_, &c, 1) != 1 || c == '\n')
                return line;
            line += c;
        }
    }
    std::string errorText() { return readAvailable(stderr_, 4096, 5000); }
    void closeStdin()
    {
        close(stdin_);
        stdin_ = -1;
    }
    // Exit status, or -1 when it does not end within a few seconds.
    int waitForExit()
    {
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(10000);
        }
        return -1;
    }
    void terminate() { kill(pid_, SIGTERM); }
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int stdout_ = -1, stderr_ = -1, stdin_ = -1;
};

int openRawTerminal(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return fd;
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
    return fd;
}

std::string hex(const std::string& bytes)
{
    std::string text;
    char digits[3];
    for (unsigned char c : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", c);
        text += digits;
    }
    return text;
}

long long fieldOf(const std::string& line, const std::string& key)
{
    const auto at = line.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::stoll(line.substr(at + key.size() + 3));
}

std::string lineWith(const std::string& log, const std::string& event)
{
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("\"ev\":\"" + event + "\"") != std::string::npos)
            return line;
    }
    return {};
}

TEST(SimulatorRun, AnswersABlockRequestOverAPseudoTerminal)
{
    const std::string scenario = tempPath("block.scn");
    const std::string link = tempPath("tty");
    const std::string log = tempPath("block.jsonl");
    writeFile(scenario, "protocol block\ninstrument 1 flow=563.412\n");
    SimulatorProcess sim({"--scenario", scenario, "--link", link, "--log", log});
    ASSERT_TRUE(sim.started());
    const std::string path = sim.firstLine();
    ASSERT_FALSE(path.empty());

    const int fd = openRawTerminal(link);
    ASSERT_GE(fd, 0) << link;
    const unsigned char request[] = {0x2A, 0x01, 0x00, 0x2E};
    ASSERT_EQ(write(fd, request, sizeof request), 4);
    EXPECT_EQ(hex(readAvailable(fd, 10, 5000)), "010012345602000072AA");
    close(fd);

    sim.terminate();
    EXPECT_EQ(sim.waitForExit(), 0);
    struct stat st{};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link is removed at exit";
    const std::string events = readFile(log);
    EXPECT_NE(lineWith(events, "rx").find("\"hex\":\"2A01002E\""), std::string::npos) << events;
    const std::string tx = lineWith(events, "tx");
    EXPECT_NE(tx.find("\"addr\":1,\"block\":0"), std::string::npos) << tx;
    EXPECT_NE(tx.find("\"hex\":\"010012345602000072AA\",\"fault\":\"none\",\"value\":563.412"),
              std::string::npos)
        << tx;
}

TEST(SimulatorRun, PacesAModbusAnswerAtTheBaudRate)
{
    const std::string scenario = tempPath("modbus.scn");
    const std::string log = tempPath("modbus.jsonl");
    writeFile(scenario, "protocol modbus\ninstrument 1 flow=12.5\n");
    SimulatorProcess sim({"--scenario", scenario, "--log", log, "--baud", "9600",
                          "--turnaround-ms", "5", "--exit-on-stdin-eof"});
    const std::string path = sim.firstLine();
    const int fd = openRawTerminal(path);
    ASSERT_GE(fd, 0) << path;
    const unsigned char request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x1A, 0xC4, 0x01};
    ASSERT_EQ(write(fd, request, sizeof request), 8);
    const std::string answer = readAvailable(fd, 57, 5000);
    close(fd);
    ASSERT_EQ(answer.size(), 57u);
    EXPECT_EQ(hex(answer).substr(0, 14), "01033441480000");

    sim.closeStdin();
    EXPECT_EQ(sim.waitForExit(), 0);
    // 8 request bytes + 57 answer bytes at 10 bits each, plus the turnaround:
    // the last byte cannot have left earlier than that after the request was read.
    const std::string events = readFile(log);
    const long long rx = fieldOf(lineWith(events, "rx"), "t_us");
    const long long tx = fieldOf(lineWith(events, "tx"), "t_us");
    ASSERT_GT(rx, 0) << events;
    EXPECT_GE(tx - rx, (8 + 57) * 10 * 1000000LL / 9600 + 5000) << events;
}

TEST(SimulatorRun, ReportsABadScenarioWithFileAndLine)
{
    const std::string scenario = tempPath("bad.scn");
    writeFile(scenario, "protocol block\ninstrument 1 flow=fast\n");
    SimulatorProcess sim({"--scenario", scenario});
    EXPECT_NE(sim.waitForExit(), 0);
    EXPECT_NE(sim.errorText().find(scenario + ":2: bad value 'fast' for flow"), std::string::npos);
}

} // namespace
