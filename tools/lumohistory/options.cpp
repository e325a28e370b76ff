#include "options.h"

#include "selection.h"

namespace lumo::history {

Result<HistoryOptions> parseHistoryOptions(const std::vector<std::string>& arguments, const FromLocal& fromLocal)
{
    using Parsed = Result<HistoryOptions>;
    if (arguments.empty() || arguments.front() != "export")
        return Parsed::failure(arguments.empty() ? "nothing to do: the command is \"export\""
                                                 : "unknown command \"" + arguments.front() + "\": the command is \"export\"");
    HistoryOptions options;
    std::optional<std::string> what, from, to, instruments;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        std::optional<std::string>* slot = a == "--what"          ? &what
                                           : a == "--from"        ? &from
                                           : a == "--to"          ? &to
                                           : a == "--instruments" ? &instruments
                                           : a == "--dir"         ? &options.directory
                                                                  : nullptr;
        if (!slot)
            return Parsed::failure("unknown option \"" + a + "\"");
        if (i + 1 >= arguments.size())
            return Parsed::failure(a + " needs a value");
        if (*slot)
            return Parsed::failure(a + " given twice");
        *slot = arguments[++i];
    }
    if (!what || !from || !to)
        return Parsed::failure("--what, --from and --to are required");
    const auto kind = exportWhatNamed(*what);
    if (!kind)
        return Parsed::failure("--what \"" + *what + "\": one of minutes, hours, events, days");
    options.request.what = *kind;
    const auto fromMs = momentOf(*from, false, fromLocal);
    if (!fromMs.ok())
        return Parsed::failure("--from: " + fromMs.error());
    const auto toMs = momentOf(*to, true, fromLocal);
    if (!toMs.ok())
        return Parsed::failure("--to: " + toMs.error());
    if (toMs.value() <= fromMs.value())
        return Parsed::failure("--to must be after --from");
    options.request.fromMs = fromMs.value();
    options.request.toMs = toMs.value();
    if (instruments) {
        const auto chosen = instrumentsOf(*instruments);
        if (!chosen.ok())
            return Parsed::failure("--instruments: " + chosen.error());
        if (chosen.value().empty())
            return Parsed::failure("--instruments: no instrument named (leave the option out for all)");
        options.request.instruments = chosen.value();
    }
    return Parsed::success(std::move(options));
}

}  // namespace lumo::history
