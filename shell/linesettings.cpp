#include "linesettings.h"

#include "text.h"

#include <charconv>
#include <vector>

namespace lumo {

namespace {

std::vector<std::string_view> commaFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const auto comma = text.find(',');
        fields.push_back(trimmed(text.substr(0, comma)));
        if (comma == std::string_view::npos)
            return fields;
        text.remove_prefix(comma + 1);
    }
}

bool wholeNumber(std::string_view text, int& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

constexpr struct {
    char letter;
    Parity parity;
} kParityLetters[] = {{'n', Parity::None}, {'e', Parity::Even}, {'o', Parity::Odd}, {'m', Parity::Mark},
                      {'s', Parity::Space}};

bool parityOfLetter(std::string_view text, Parity& parity)
{
    if (text.size() != 1)
        return false;
    const char letter = text[0] >= 'A' && text[0] <= 'Z' ? static_cast<char>(text[0] - 'A' + 'a') : text[0];
    for (const auto& entry : kParityLetters) {
        if (entry.letter == letter) {
            parity = entry.parity;
            return true;
        }
    }
    return false;
}

bool stopBitsOfText(std::string_view text, StopBits& stopBits)
{
    if (text == "1")
        stopBits = StopBits::One;
    else if (text == "1.5")
        stopBits = StopBits::OneAndHalf;
    else if (text == "2")
        stopBits = StopBits::Two;
    else
        return false;
    return true;
}

}  // namespace

int LineSettings::bitsPerCharacter() const
{
    return 1 + dataBits + (parity == Parity::None ? 0 : 1) + (stopBits == StopBits::Two ? 2 : 1);
}

std::chrono::microseconds LineSettings::timeOfBits(long long bits) const
{
    const long long baudRate = baud > 0 ? baud : 1;
    return std::chrono::microseconds((bits * 1'000'000 + baudRate - 1) / baudRate);
}

std::string LineSettings::text() const
{
    char parityLetter = 'n';
    for (const auto& entry : kParityLetters)
        if (entry.parity == parity)
            parityLetter = entry.letter;
    const char* stop = stopBits == StopBits::One ? "1" : stopBits == StopBits::Two ? "2" : "1.5";
    return std::to_string(baud) + ',' + parityLetter + ',' + std::to_string(dataBits) + ',' + stop;
}

Result<LineSettings> parseLineSettings(std::string_view settingsText)
{
    const std::string quoted = "line settings \"" + std::string(settingsText) + "\"";
    const auto fields = commaFields(settingsText);
    if (fields.size() != 4)
        return Result<LineSettings>::failure(quoted + ": expected baud,parity,data bits,stop bits");
    LineSettings settings;
    if (!wholeNumber(fields[0], settings.baud) || settings.baud <= 0)
        return Result<LineSettings>::failure(quoted + ": baud rate is not a positive number");
    if (!parityOfLetter(fields[1], settings.parity))
        return Result<LineSettings>::failure(quoted + ": parity is not one of n, e, o, m, s");
    if (!wholeNumber(fields[2], settings.dataBits) || settings.dataBits < 5 || settings.dataBits > 8)
        return Result<LineSettings>::failure(quoted + ": data bits are not 5 to 8");
    if (!stopBitsOfText(fields[3], settings.stopBits))
        return Result<LineSettings>::failure(quoted + ": stop bits are not 1, 1.5 or 2");
    return Result<LineSettings>::success(settings);
}

}  // namespace lumo
