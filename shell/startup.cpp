#include "startup.h"

#include "baudtable.h"
#include "text.h"

#include <charconv>
#include <limits>

namespace lumo {

namespace {

// Remembers the most recent failure of the sequence.
class FailureMemory {
public:
    void note(const Status& status)
    {
        if (status.ok())
            return;
        last_ = status.error();
        noteCause(status.cause());
    }
    void note(const std::string& failure) { last_ = failure; }
    // The first failure that the operator can act on leads the message: the
    // later ones mostly follow from it (a missing file leaves the port
    // number empty, a port that did not open cannot be cleared).
    void noteCause(const std::string& cause)
    {
        if (cause_.empty())
            cause_ = cause;
    }
    // The settings file's own failure, kept so that a field left empty by it
    // can say why it is empty.
    void noteStore(const std::string& failure)
    {
        note(failure);
        store_ = failure;
    }
    std::string whyEmpty(const std::string& text) const
    {
        return text.empty() && store_ ? " (it was not read: " + *store_ + ")" : std::string();
    }
    const std::optional<std::string>& last() const { return last_; }
    // The cause first, when there is one, then the technical detail.
    std::string description() const { return cause_.empty() ? *last_ : cause_ + "\r\n" + *last_; }

private:
    std::optional<std::string> last_;
    std::string cause_;
    std::optional<std::string> store_;
};

void loadSettings(const StartupParts& p, FailureMemory& failures)
{
    const StoreOutcome loaded = p.store.load();
    const SettingsRecord& r = loaded.fields;
    if (r.timer)
        p.fields.setText(ValueField::Interval, *r.timer);
    if (r.num)
        p.fields.setText(ValueField::Count, *r.num);
    if (r.com)
        p.fields.setText(ValueField::Port, *r.com);
    if (r.settings)
        p.fields.setText(ValueField::Baud, *r.settings);
    for (const std::string& failure : loaded.failures)
        failures.noteStore(failure);
    failures.noteCause(loaded.cause);
}

void setPageVisibility(const StartupParts& p)
{
    const double n = p.fields.instrumentCount();
    p.grid.setPageVisible(2, n >= 14);
    p.grid.setPageVisible(3, n >= 27);
}

Status setTimerInterval(const StartupParts& p, const FailureMemory& failures)
{
    const std::string& text = p.fields.text(ValueField::Interval);
    const std::optional<long long> ms = integerValue(text);
    if (!ms)
        return Status::failure("send interval \"" + text + "\" is not a whole number of milliseconds" +
                               failures.whyEmpty(text));
    if (*ms < 1 || *ms > kLongestInterval)
        return Status::failure("send interval " + std::to_string(*ms) + " ms is outside 1.." +
                               std::to_string(kLongestInterval) + " ms");
    p.settings.intervalMs = static_cast<int>(*ms);
    return p.timer.setInterval(*p.settings.intervalMs);
}

Status setPortNumber(const StartupParts& p, const FailureMemory& failures)
{
    const std::string& text = p.fields.text(ValueField::Port);
    const std::optional<long long> number = integerValue(text);
    if (!number)
        return Status::failure("port number \"" + text + "\" is not a whole number" + failures.whyEmpty(text));
    if (*number < std::numeric_limits<int>::min() || *number > std::numeric_limits<int>::max())
        return Status::failure("port number " + text + " is out of range");
    p.settings.portNumber = static_cast<int>(*number);
    return p.port.setPortNumber(*p.settings.portNumber);
}

void openAndConfigurePort(const StartupParts& p, FailureMemory& failures)
{
    failures.note(setPortNumber(p, failures));
    failures.note(p.port.open());
    failures.note(p.port.setNoHandshaking());
    failures.note(p.port.setSendThreshold(0));
    failures.note(p.port.setLineSettings(LineSettings{}));  // 9600,n,8,1
    failures.note(p.port.setBinaryInput());
    failures.note(p.port.clearOutput());
    failures.note(p.port.clearInput());
    p.settings.line = lineSettingsForBaudText(p.fields.text(ValueField::Baud));
    failures.note(p.port.setLineSettings(p.settings.line));
    failures.note(p.port.setReceiveThreshold(p.poll.receiveThreshold()));
}

}  // namespace

std::optional<long long> integerValue(std::string_view text)
{
    text = trimmed(text);
    // One sign at most: from_chars takes a '-' but not a '+', so a '+' is
    // dropped first and must not leave a second sign behind ("+-5").
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-')
            return std::nullopt;
    }
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

StartupResult formLoad(const StartupParts& p)
{
    FailureMemory failures;

    p.window.removeCloseCommand();  // its result is not looked at
    if (p.guard.anotherCopyRunning())
        return StartupResult::AnotherCopyRunning;

    p.grid.setPageVisible(3, true);
    p.grid.setPageVisible(2, true);
    loadSettings(p, failures);
    setPageVisibility(p);
    failures.note(p.window.selectCountEntry("1"));

    failures.note(setTimerInterval(p, failures));
    p.timer.setEnabled(true);

    p.poll.setCurrentAddress(1);
    openAndConfigurePort(p, failures);

    StartupResult result = StartupResult::Polling;
    if (failures.last()) {
        p.dialogs.inform("Com" + std::to_string(p.port.portNumber()) + " is not available." + "\r\n" +
                         failures.description());
        p.fields.setText(ValueField::Status, std::string(kPortStoppedText));
        p.timer.setEnabled(false);
        p.timer.setInterval(0);
        // Ticks while the message was open may have filled rows; with the
        // timer stopped they would stay on screen as if live.
        for (int instrument = 1; instrument <= kInstruments; ++instrument)
            p.grid.clearInstrument(instrument);
        result = StartupResult::Stopped;
    }
    p.window.makeIntervalEntryDigitsOnly();
    return result;
}

}  // namespace lumo
