#pragma once
// The system closing the program (POSIX: SIGTERM, SIGINT and SIGHUP from a
// logout, a service manager, kill or Ctrl-C) ends it in order instead of
// killing it, so that the serial port is closed and its lock file removed.
// The handler only notes it; the call itself runs on the event loop, like
// any other event, also inside a message box's own loop.
// terminationsignals_posix.cpp and terminationsignals_win.cpp.

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

    // Runs the call on the event loop's turn (the handlers' side).
    void drain();

private:
    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace lumo
