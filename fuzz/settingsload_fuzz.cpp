// The settings load and save on an arbitrary file in place of lumo.mdb.
//
// The input is the whole file. load() runs on it, save() on a copy of it in
// another directory. Neither may crash; every failure has a description and
// every field that loaded is valid UTF-8.

#include "fuzzinput.h"
#include "sqlitesettingsstore.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using lumo::fuzz::check;
namespace fs = std::filesystem;

namespace {

struct Directories {
    fs::path load;
    fs::path save;

    Directories()
    {
        std::string pattern = (fs::temp_directory_path() / "lumo-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            lumo::fuzz::fail("cannot make a temporary directory");
        const fs::path root = pattern;
        load = root / "load";
        save = root / "save";
        fs::create_directories(load);
        fs::create_directories(save);
    }
};

const Directories& directories()
{
    static const Directories dirs;
    return dirs;
}

void writeFile(const fs::path& dir, const std::uint8_t* data, std::size_t size)
{
    // A journal left by an earlier input would be rolled into this one.
    for (const char* name : {"lumo.mdb", "lumo.mdb-journal", "lumo.mdb-wal", "lumo.mdb-shm"})
        fs::remove(dir / name);
    std::ofstream out(dir / "lumo.mdb", std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void checkOutcome(const lumo::StoreOutcome& outcome)
{
    for (const std::string& failure : outcome.failures)
        check(!failure.empty(), "a failure without a description");
    for (const auto* field : {&outcome.fields.timer, &outcome.fields.num, &outcome.fields.com,
                              &outcome.fields.settings})
        if (*field)
            check(lumo::fuzz::isValidUtf8(**field) && (*field)->find('\0') == std::string::npos,
                  "a loaded field is not valid UTF-8 text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Directories& dirs = directories();
    writeFile(dirs.load, data, size);
    writeFile(dirs.save, data, size);

    lumo::SqliteSettingsStore loader(dirs.load.string());
    const lumo::StoreOutcome loaded = loader.load();
    checkOutcome(loaded);
    // Every field either loaded or failed with a description.
    const int missing = !loaded.fields.timer + !loaded.fields.num + !loaded.fields.com + !loaded.fields.settings;
    check(missing == 0 || !loaded.failures.empty(), "a field missing without a failure");

    lumo::SqliteSettingsStore saver(dirs.save.string());
    const lumo::StoreOutcome saved = saver.save({"250", "7", "19200", "com3"});
    checkOutcome(saved);
    if (saved.ok()) {
        // A successful save lasts: loading again gives what save read back.
        const lumo::StoreOutcome again = saver.load();
        check(again.ok(), "the file does not load after a successful save");
        check(again.fields.timer == saved.fields.timer && again.fields.num == saved.fields.num &&
                  again.fields.com == saved.fields.com && again.fields.settings == saved.fields.settings,
              "a successful save did not last");
    }
    return 0;
}
