#include "commands.h"

#include "baudtable.h"
#include "leadingnumber.h"
#include "portlist.h"

#include <algorithm>
#include <cmath>

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

std::string countEntryInUse(std::string_view countText)
{
    // The poll advances while the count exceeds the address, so 13.5 polls
    // 14 instruments; the list ends at 39.
    const double count = leadingNumber(countText);
    const double polled = std::clamp(std::ceil(count), 1.0, static_cast<double>(kLongestCountEntry));
    return std::to_string(static_cast<int>(polled));
}

std::string saveFailureText(const StoreOutcome& saved)
{
    std::string text(saved.stored ? kPartlySavedText : kNotSavedText);
    for (const std::string& failure : saved.failures)
        text += "\r\n" + failure;
    return text;
}

void Commands::openEditor()
{
    editor_.setEditorVisible(true);
    editor_.setChangeCommandEnabled(false);
    editor_.setIntervalText(fields_.text(ValueField::Interval));
    editor_.selectCount(countEntryInUse(fields_.text(ValueField::Count)));
    editor_.selectBaud(baudTextInUse(fields_.text(ValueField::Baud)));
    // A stored port outside the list leaves the list as it was.
    if (const auto entry = portEntryOfField(fields_.text(ValueField::Port)))
        editor_.selectPort(*entry);
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
    // The program ends in every case; the operator must not leave believing
    // a change is stored when it is not.
    if (!saved.ok())
        dialogs_.inform(saveFailureText(saved));
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
