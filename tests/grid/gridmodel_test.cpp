#include "gridmodel.h"

#include <gtest/gtest.h>

namespace {

using lumo::GridModel;

void fillAll(GridModel& grid)
{
    for (int n = 1; n <= lumo::kInstruments; ++n)
        for (int r = 0; r < lumo::kSlots; ++r)
            grid.setCellText(n, r, std::to_string(n) + "/" + std::to_string(r));
}

TEST(Grid, PageAndLineAtThePageBorders)
{
    const struct {
        int instrument, page, line;
    } cases[] = {{1, 1, 0}, {13, 1, 12}, {14, 2, 0}, {26, 2, 12}, {27, 3, 0}, {39, 3, 12}};
    for (const auto& c : cases) {
        EXPECT_EQ(lumo::pageOf(c.instrument), c.page) << c.instrument;
        EXPECT_EQ(lumo::lineOf(c.instrument), c.line) << c.instrument;
    }
}

TEST(Grid, CellsStartEmptyAndIndicatorsHidden)
{
    GridModel grid;
    for (int n = 1; n <= lumo::kInstruments; ++n)
        for (int r = 0; r < lumo::kSlots; ++r)
            EXPECT_EQ(grid.cellText(n, r), "");
    for (int page = 1; page <= lumo::kPages; ++page)
        EXPECT_FALSE(grid.activityShown(page));
    EXPECT_TRUE(grid.pageVisible(1));
    EXPECT_FALSE(grid.pageVisible(2));
    EXPECT_FALSE(grid.pageVisible(3));
}

// ClearInstrument, what Status_Dowith does, touches exactly the eight cells
// of one instrument, on whatever page, visible or not.
TEST(Grid, BlankingTouchesExactlyOneInstrument)
{
    for (int address : {0, 1, 5, 13, 14, 26, 27, 39, 40, 255}) {
        GridModel grid;
        fillAll(grid);
        grid.clearInstrument(address);
        for (int n = 1; n <= lumo::kInstruments; ++n) {
            for (int r = 0; r < lumo::kSlots; ++r) {
                const std::string expected = n == address ? "" : std::to_string(n) + "/" + std::to_string(r);
                EXPECT_EQ(grid.cellText(n, r), expected) << "address " << address << " cell " << n << "," << r;
            }
        }
        // A second blanking changes nothing more.
        grid.clearInstrument(address);
        if (lumo::isInstrument(address)) {
            EXPECT_EQ(grid.cellText(address, 7), "");
        }
    }
}

TEST(Grid, WritesOutsideTheGridAreIgnored)
{
    GridModel grid;
    grid.setCellText(0, 0, "x");
    grid.setCellText(40, 0, "x");
    grid.setCellText(1, 8, "x");
    grid.setCellText(1, -1, "x");
    grid.clearInstrument(0);
    grid.clearInstrument(40);
    EXPECT_EQ(grid.cellText(1, 0), "");
    EXPECT_EQ(grid.cellText(40, 0), "");
}

struct Recorder : lumo::GridObserver {
    std::vector<std::string> events;
    void cellChanged(int n, int r, const std::string& t) override
    {
        events.push_back("cell " + std::to_string(n) + "," + std::to_string(r) + "=" + t);
    }
    void activityChanged(int page, bool shown) override
    {
        events.push_back("lamp " + std::to_string(page) + (shown ? " on" : " off"));
    }
    void pageVisibilityChanged(int page, bool visible) override
    {
        events.push_back("page " + std::to_string(page) + (visible ? " shown" : " hidden"));
    }
};

TEST(Grid, IndicatorsChangeOnAllPagesVisibleOrNot)
{
    GridModel grid;
    Recorder recorder;
    grid.addObserver(&recorder);
    grid.setPageVisible(2, false);
    grid.setPageVisible(3, false);
    grid.showActivity();
    for (int page = 1; page <= 3; ++page)
        EXPECT_TRUE(grid.activityShown(page));
    grid.hideActivity();
    for (int page = 1; page <= 3; ++page)
        EXPECT_FALSE(grid.activityShown(page));
    const std::vector<std::string> expected = {"page 2 hidden", "page 3 hidden", "lamp 1 on", "lamp 2 on",
                                               "lamp 3 on",     "lamp 1 off",    "lamp 2 off", "lamp 3 off"};
    EXPECT_EQ(recorder.events, expected);
    grid.removeObserver(&recorder);
}

TEST(Grid, ClearInstrumentWritesSlotsInOrder)
{
    GridModel grid;
    Recorder recorder;
    grid.addObserver(&recorder);
    grid.clearInstrument(20);
    ASSERT_EQ(recorder.events.size(), 8u);
    EXPECT_EQ(recorder.events.front(), "cell 20,0=");
    EXPECT_EQ(recorder.events.back(), "cell 20,7=");
    grid.removeObserver(&recorder);
}

TEST(Grid, PageOneCannotBeHidden)
{
    GridModel grid;
    grid.setPageVisible(1, false);
    EXPECT_TRUE(grid.pageVisible(1));
}

}  // namespace
