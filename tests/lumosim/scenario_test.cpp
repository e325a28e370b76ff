#include "alarmbits.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace lumo::sim;

namespace {

ScenarioOutcome parse(const std::string& text)
{
    std::istringstream in(text);
    return parseScenario(in, "plant.scn");
}

TEST(Scenario, ReadsModbusInstrumentsAndComments)
{
    const auto outcome = parse(
        "# two meters\n"
        "protocol modbus            # or: block\n"
        "\n"
        "instrument 1 flow=12.5 velocity=1.25 percent=50 resistance=3.3 forward=1234.5678 "
        "reverse=0 diameter=100 alarms=empty\n"
        "instrument 2 silent\n"
        "instrument 4 fault=badcrc every=3\n"
        "instrument 6 foreign=7 p=0.2\n"
        "instrument 7 reg13=0001 0002\n"
        "storm start_s=2 duration_s=1\n");
    ASSERT_TRUE(outcome.scenario) << outcome.error;
    const Scenario& s = *outcome.scenario;
    EXPECT_EQ(s.protocol, Protocol::modbus);
    ASSERT_EQ(s.instruments.size(), 5u);
    const Instrument& one = s.instruments.at(1);
    EXPECT_DOUBLE_EQ(one.flow.base, 12.5);
    EXPECT_DOUBLE_EQ(one.forwardTotal.base, 1234.5678);
    EXPECT_EQ(one.alarms, emptyPipeAlarm);
    EXPECT_EQ(s.instruments.at(2).faults.faults, silentFault);
    EXPECT_EQ(s.instruments.at(4).faults.faults, badCrcFault);
    EXPECT_EQ(s.instruments.at(4).faults.every, 3);
    EXPECT_EQ(s.instruments.at(6).faults.faults, foreignFault);
    EXPECT_EQ(s.instruments.at(6).faults.foreignAddress, 7);
    EXPECT_DOUBLE_EQ(s.instruments.at(6).faults.probability, 0.2);
    EXPECT_EQ(s.instruments.at(7).rawRegisters.at(13), 1);
    EXPECT_EQ(s.instruments.at(7).rawRegisters.at(14), 2);
    ASSERT_EQ(s.storms.size(), 1u);
    EXPECT_DOUBLE_EQ(s.storms[0].durationSeconds, 1);
}

TEST(Scenario, ReadsBlockCodesRawBlocksAndVaryingValues)
{
    const auto outcome = parse(
        "protocol block\n"
        "instrument 3 flow=5~2/10 forward=1000+2.5/s diameter=100 flow_code=4\n"
        "instrument 5 delay_ms=300 fault=split split_gap_ms=20\n"
        "instrument 8 block0=12 34 56 02 00 00 block6=080000000000 alarm_byte=0xC1\n");
    ASSERT_TRUE(outcome.scenario) << outcome.error;
    const auto& three = outcome.scenario->instruments.at(3);
    EXPECT_DOUBLE_EQ(three.flow.amplitude, 2);
    EXPECT_DOUBLE_EQ(three.flow.periodSeconds, 10);
    EXPECT_NEAR(three.flow.at(2.5), 7.0, 1e-9); // a quarter period: the crest
    EXPECT_DOUBLE_EQ(three.forwardTotal.at(4), 1010);
    EXPECT_EQ(three.flowCode, 4);
    const auto& five = outcome.scenario->instruments.at(5);
    EXPECT_EQ(five.faults.faults, lateFault | splitFault);
    EXPECT_EQ(five.faults.delayMs, 300);
    EXPECT_EQ(five.faults.splitGapMs, 20);
    const auto& eight = outcome.scenario->instruments.at(8);
    ASSERT_TRUE(eight.rawBlocks[0]);
    EXPECT_EQ(*eight.rawBlocks[0], (BlockPayload{0x12, 0x34, 0x56, 0x02, 0x00, 0x00}));
    ASSERT_TRUE(eight.rawBlocks[6]);
    EXPECT_EQ((*eight.rawBlocks[6])[0], 0x08);
    EXPECT_EQ(eight.alarmByte, 0xC1);
}

struct ErrorCase {
    const char* text;
    const char* error;
};

TEST(Scenario, ErrorsNameFileLineAndProblem)
{
    const ErrorCase cases[] = {
        {"instrument 1\n", "plant.scn:1: the first line must be 'protocol block' or 'protocol modbus'"},
        {"protocol serial\n", "plant.scn:1: expected 'protocol block' or 'protocol modbus'"},
        {"protocol block\n\ninstrument 40\n", "plant.scn:3: instrument needs an address 1..39"},
        {"protocol block\ninstrument 1\ninstrument 1\n", "plant.scn:3: instrument 1 defined twice"},
        {"protocol block\ninstrument 1 flow=abc\n",
         "plant.scn:2: bad value 'abc' for flow (a number, BASE~AMPLITUDE/PERIOD_S or START+RATE/s)"},
        {"protocol block\ninstrument 1 fault=badcrc\n",
         "plant.scn:2: no fault 'badcrc' in the block protocol"},
        {"protocol modbus\ninstrument 1 fault=stray\n",
         "plant.scn:2: no fault 'stray' in the modbus protocol"},
        {"protocol block\ninstrument 1 diameter=123\n",
         "plant.scn:2: diameter 123 mm is not a nominal diameter of the code table; use diameter_code="},
        {"protocol block\ninstrument 1 percent=1000\n",
         "plant.scn:2: percent value does not fit its BCD digits (too large, or negative where the "
         "block has no sign)"},
        {"protocol block\ninstrument 1 block2=12 34\n",
         "plant.scn:2: block2= needs six hexadecimal bytes"},
        {"protocol modbus\ninstrument 1 reg25=0001 0002\n",
         "plant.scn:2: raw registers run past register 25"},
        {"protocol modbus\ninstrument 1 every=2 p=0.5 fault=late\n",
         "plant.scn:2: give either every= or p=, not both"},
        {"protocol modbus\ninstrument 1 colour=red\n", "plant.scn:2: unknown setting 'colour'"},
        {"protocol modbus\nstorm start_s=1\n", "plant.scn:2: storm needs both start_s= and duration_s="},
        {"protocol modbus\nmeter 1\n",
         "plant.scn:2: unknown line 'meter' (expected protocol, instrument or storm)"},
        {"# nothing\n", "plant.scn: no 'protocol block' or 'protocol modbus' line"},
    };
    for (const auto& c : cases) {
        const auto outcome = parse(c.text);
        EXPECT_FALSE(outcome.scenario) << c.text;
        EXPECT_EQ(outcome.error, c.error) << c.text;
    }
}

TEST(Scenario, MissingFileIsReported)
{
    const auto outcome = loadScenario("/nonexistent/plant.scn");
    EXPECT_FALSE(outcome.scenario);
    EXPECT_EQ(outcome.error, "/nonexistent/plant.scn: cannot open the scenario file");
}

} // namespace
