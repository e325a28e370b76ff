// mklumodb: writes a default settings file for the monitoring programs.

#include <iostream>
#include <string>
#include <vector>

#include "settingsfile.h"

int main(int argc, char** argv)
{
    using namespace lumo::mklumodb;
    const lumo::Result<Options> options = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!options.ok()) {
        std::cerr << "mklumodb: " << options.error() << "\n" << usage();
        return 2;
    }
    Options settings = options.value();
    if (settings.passwordFile) {
        const lumo::Result<std::string> password = readPassword(*settings.passwordFile, std::cin);
        if (!password.ok()) {
            std::cerr << "mklumodb: " << password.error() << "\n";
            return 2;
        }
        settings.publish->password = password.value();
    }
    const lumo::Status written = writeSettingsFile(settings);
    if (!written.ok()) {
        std::cerr << "mklumodb: " << written.error() << "\n";
        return 1;
    }
    return 0;
}
