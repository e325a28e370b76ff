#include "commands.h"

#include <algorithm>

namespace lumo {

bool intervalAccepted(std::string_view text)
{
    if (text.empty())
        return false;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = std::min(value * 10 + (c - '0'), 1'000'000'000LL);  // saturates, never overflows
    }
    return value >= kShortestEditedInterval;
}

void Commands::openEditor()
{
    editor_.setEditorVisible(true);
    editor_.setChangeCommandEnabled(false);
    editor_.setIntervalText(fields_.text(ValueField::Interval));
    editor_.selectCount(fields_.text(ValueField::Count));
    editor_.selectBaud(fields_.text(ValueField::Baud));
    const std::string& port = fields_.text(ValueField::Port);
    for (int n = 1; n <= 10; ++n) {
        if (port == std::to_string(n)) {
            editor_.selectPort("com" + std::to_string(n));
            break;
        }
    }
}

void Commands::confirm()
{
    if (!intervalAccepted(editor_.intervalText())) {
        dialogs_.inform(std::string(kIntervalRejectedText));
        return;
    }
    if (!dialogs_.ask(std::string(kConfirmChangeText))) {
        closeEditor();
        return;
    }
    const StoreOutcome saved =
        store_.save({editor_.intervalText(), editor_.countText(), editor_.baudText(), editor_.portText()});
    showStored(saved.fields);
    closeEditor();
    end_.endProgram();
}

void Commands::exit()
{
    if (dialogs_.ask(std::string(kConfirmExitText)))
        end_.endProgram();
}

void Commands::unload() { timer_.setEnabled(false); }

void Commands::closeEditor()
{
    editor_.setEditorVisible(false);
    editor_.setChangeCommandEnabled(true);
}

void Commands::showStored(const SettingsRecord& stored)
{
    if (stored.timer)
        fields_.setText(ValueField::Interval, *stored.timer);
    if (stored.num)
        fields_.setText(ValueField::Count, *stored.num);
    if (stored.settings)
        fields_.setText(ValueField::Baud, *stored.settings);
    if (stored.com)
        fields_.setText(ValueField::Port, *stored.com);
}

}  // namespace lumo
