// A save that changes settings is told in the editor's words, once; a save
// that changes nothing or stores nothing is not.

#include "fakeshell.h"
#include "notingstore.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

using testing::FakeStore;

TEST(NotingStore, ASaveThatChangedSettingsIsToldInTheEditorsWords)
{
    FakeStore store;
    store.loadOutcome = FakeStore::record("200", "13", "1", "9600");
    NotingStore noting(store);
    std::vector<std::string> told;
    noting.setOnChanged([&](const std::string& detail) { told.push_back(detail); });
    noting.load();

    const struct {
        StoreOutcome outcome;
        bool stored;
        const char* expected;  // nullptr: nothing told
    } saves[] = {
        {FakeStore::record("300", "13", "1", "9600"), true, "发送间隔 200→300"},
        {FakeStore::record("300", "20", "4", "19200"), true, "仪表数 13→20，com端口 1→4，通讯速率 9600→19200"},
        {FakeStore::record("300", "20", "4", "19200"), true, nullptr},  // the same again
        {FakeStore::record("500", "20", "4", "19200"), false, nullptr}, // not stored
    };
    for (const auto& save : saves) {
        store.saveOutcome = save.outcome;
        store.saveOutcome.stored = save.stored;
        const std::size_t before = told.size();
        noting.save({});
        if (save.expected) {
            ASSERT_EQ(told.size(), before + 1);
            EXPECT_EQ(told.back(), save.expected);
        } else {
            EXPECT_EQ(told.size(), before);
        }
    }
    // A field the load could not read shows as "?".
    SettingsRecord unread = FakeStore::record("200", "13", "1", "9600").fields;
    unread.num.reset();
    EXPECT_EQ(changedSettings(unread, FakeStore::record("200", "13", "1", "9600").fields), "仪表数 ?→13");
}

}  // namespace
}  // namespace lumo
