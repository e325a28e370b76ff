#pragma once
// SIGTERM, SIGINT and SIGHUP (a logout, a service manager, kill, Ctrl-C)
// end the program in order instead of killing it, so that the serial port
// is closed and its lock file removed. The signal handler only writes a
// byte to a pipe; the call itself runs on the event loop, like any other
// event, also inside a message box's own loop.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace lumo {

class TerminationSignals : public QObject {
public:
    // One instance per process; its destruction restores the default actions.
    explicit TerminationSignals(std::function<void()> onSignal);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    void drain();

    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace lumo
