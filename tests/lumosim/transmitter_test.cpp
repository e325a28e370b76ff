#include "transmitter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace lumo::sim;

namespace {

// The line is a pipe; the clock is passed in, so nothing here waits.
class TransmitterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(pipe(fds_), 0);
        fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    }
    void TearDown() override
    {
        close(fds_[0]);
        close(fds_[1]);
    }
    Bytes drain()
    {
        Bytes bytes(256);
        const ssize_t n = read(fds_[0], bytes.data(), bytes.size());
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return bytes;
    }
    static Transmission transmission(std::int64_t start, std::vector<Piece> pieces,
                                     double perByte, int tag)
    {
        return Transmission{start, std::move(pieces), perByte, tag};
    }
    int line() const { return fds_[1]; }

private:
    int fds_[2] = {-1, -1};
};

TEST_F(TransmitterTest, UnpacedBytesLeaveTogetherAtTheStart)
{
    Transmitter tx;
    tx.queue(transmission(1000, {{{1, 2, 3}, 0}}, 0, 7));
    EXPECT_TRUE(tx.writeDue(line(), 999).empty());
    EXPECT_EQ(tx.nextDueUs(), 1000);
    const auto done = tx.writeDue(line(), 1000);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].tag, 7);
    EXPECT_EQ(done[0].bytes, (Bytes{1, 2, 3}));
    EXPECT_EQ(drain(), (Bytes{1, 2, 3}));
    EXPECT_TRUE(tx.idle());
}

TEST_F(TransmitterTest, PacedBytesLeaveOneByteTimeApart)
{
    Transmitter tx;
    tx.queue(transmission(0, {{{1, 2, 3}, 0}}, 1000, 1));
    EXPECT_TRUE(tx.writeDue(line(), 1500).empty());
    EXPECT_EQ(drain(), (Bytes{1}));
    EXPECT_EQ(tx.nextDueUs(), 2000);
    EXPECT_EQ(tx.writeDue(line(), 3000).size(), 1u);
    EXPECT_EQ(drain(), (Bytes{2, 3}));
}

TEST_F(TransmitterTest, SplitPiecesWaitForTheirGap)
{
    Transmitter tx;
    tx.queue(transmission(0, {{{1, 2}, 0}, {{3, 4}, 5}}, 0, 1));
    EXPECT_TRUE(tx.writeDue(line(), 0).empty());
    EXPECT_EQ(drain(), (Bytes{1, 2}));
    EXPECT_EQ(tx.nextDueUs(), 5000);
    EXPECT_EQ(tx.writeDue(line(), 5000).size(), 1u);
    EXPECT_EQ(drain(), (Bytes{3, 4}));
}

TEST_F(TransmitterTest, TransmissionsNeverInterleaveOnTheWire)
{
    Transmitter tx;
    tx.queue(transmission(500, {{{9, 9}, 0}}, 1000, 2));
    tx.queue(transmission(0, {{{1, 2, 3}, 0}}, 1000, 1));
    // The earlier start goes first; the second waits until the wire is free.
    EXPECT_TRUE(tx.writeDue(line(), 2000).empty());
    EXPECT_EQ(drain(), (Bytes{1, 2}));
    const auto first = tx.writeDue(line(), 3000);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].tag, 1);
    EXPECT_EQ(tx.nextDueUs(), 4000);
    const auto second = tx.writeDue(line(), 5000);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].tag, 2);
    EXPECT_EQ(drain(), (Bytes{3, 9, 9}));
}

} // namespace
