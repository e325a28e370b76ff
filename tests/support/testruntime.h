#pragma once
// The programs keep their single-copy locks in the user's runtime directory.
// A test process gives itself and every program it starts one of its own,
// removed with everything in it when the process ends.

#include <QFile>
#include <QTemporaryDir>

namespace lumo::testing {

class TestRuntimeDirectory {
public:
    TestRuntimeDirectory() { qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_.path())); }

private:
    QTemporaryDir dir_;  // created 0700, as a runtime directory must be
};

}  // namespace lumo::testing
