// The history page parser: known pages, the ends of a page, and payloads of any shape.
#include <gtest/gtest.h>

#include <QByteArray>
#include <cmath>
#include <memory>
#include <random>

#include "operations/HistoryPage.h"

namespace r4t8 {
namespace {

Bytes Hex(const char* text) {
    const QByteArray b = QByteArray::fromHex(QByteArray(text).replace(' ', ""));
    return Bytes(b.begin(), b.end());
}

HistoryPageResult Parse(const Bytes& payload, HistoryTable& table) {
    // An exact-size heap copy, so that a read past the payload is caught under ASan.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[payload.size() + 1]);
    std::copy(payload.begin(), payload.end(), copy.get());
    return ParseHistoryPage(payload.empty() ? nullptr : copy.get(), payload.size(), table);
}

TEST(HistoryPage, WorkedPageHoldsOneRecord) {
    HistoryTable table;
    const auto r = Parse(Hex("7F7F 0E 01 05 09 1E 00 01 00 0000CC41 50 50 20BCBE00 FF"), table);
    EXPECT_FALSE(r.undefinedItem);
    ASSERT_EQ(table.size(), 1u);
    const HistoryRecord& rec = table[0];
    EXPECT_EQ(rec.year, 14);
    EXPECT_EQ(rec.month, 1);
    EXPECT_EQ(rec.day, 5);
    EXPECT_EQ(rec.hour, 9);
    EXPECT_EQ(rec.minute, 30);
    EXPECT_EQ(rec.second, 0);
    EXPECT_EQ(rec.sensorPresent[0], 1);
    EXPECT_DOUBLE_EQ(rec.sensor[0], 25.5);
    for (int s = 1; s < 4; ++s) EXPECT_EQ(rec.sensorPresent[s], 0) << s;
    EXPECT_EQ(rec.longitude, 12500000u);
    EXPECT_EQ(rec.latitude, 0xFFFFFFFFu);
    EXPECT_EQ(rec.speed, 0xFFFFFFFFu);
    EXPECT_EQ(rec.direction, 0xFFFFFFFFu);
}

struct PageCase {
    const char* name;
    const char* payload;
    size_t records;
    bool undefined;
};

class PageShapes : public ::testing::TestWithParam<PageCase> {};

TEST_P(PageShapes, CountsRecords) {
    HistoryTable table;
    const auto r = Parse(Hex(GetParam().payload), table);
    EXPECT_EQ(table.size(), GetParam().records);
    EXPECT_EQ(r.recordsAdded, GetParam().records);
    EXPECT_EQ(r.undefinedItem, GetParam().undefined);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PageShapes,
    ::testing::Values(
        PageCase{"TerminatorAlone", "FF", 0, false}, PageCase{"EmptyPayload", "", 0, false},
        PageCase{"RecordWithoutItems", "7F7F 0E0105091E00 FF", 1, false},
        PageCase{"RecordEndingAtPayloadEnd", "7F7F 0E0105091E00 01010000803F", 1, false},
        PageCase{"TwoRecords", "7F7F 0E0105091E00 7F7F 0E0105091F00 FF", 2, false},
        PageCase{"MarkerAfterRecordNotDoubled", "7F7F 0E0105091E00 7F00", 1, false},
        PageCase{"TimeStampCutOff", "7F7F 0E0105", 0, false},
        PageCase{"LoneMarkerByte", "7F", 0, false},
        PageCase{"ItemCutOffKeepsRecord", "7F7F 0E0105091E00 01000000", 1, false},
        PageCase{"ItemCutOffEndsPage", "7F7F 0E0105091E00 0100 7F7F", 1, false},
        PageCase{"TerminatorEndsItems", "7F7F 0E0105091E00 FF00 7F7F 0E0105091E00", 1, false},
        PageCase{"UndefinedTypeStopsPage",
                 "7F7F 0E0105091E00 7F7F 0E0105091F00 02000000803F 7F7F 0E0105092000 FF", 1, true},
        PageCase{"UndefinedFirstRecord", "7F7F 0E0105091E00 000000000000 FF", 0, true},
        PageCase{"UnknownChannelsSkipped",
                 "7F7F 0E0105091E00 01040000803F 50540100000001FF0000803F FF", 1, false},
        PageCase{"NoMarkerAtStart", "00 7F7F 0E0105091E00 FF", 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HistoryPage, KnownTypeWithUnknownChannelIsSkippedNotStored) {
    HistoryTable table;
    // Sensor channel 4, GPS channel 0x54, then a real sensor 4 (channel 3) = 1.0.
    Parse(Hex("7F7F 0E0105091E00 01040000803F 505401000000 01030000803F FF"), table);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].sensorPresent[0] + table[0].sensorPresent[1] + table[0].sensorPresent[2], 0);
    EXPECT_EQ(table[0].sensorPresent[3], 1);
    EXPECT_DOUBLE_EQ(table[0].sensor[3], 1.0);
    EXPECT_EQ(table[0].longitude, 0xFFFFFFFFu);
    EXPECT_EQ(table[0].direction, 0xFFFFFFFFu);
}

TEST(HistoryPage, AllGpsChannelsAndLaterItemWins) {
    HistoryTable table;
    Parse(Hex("7F7F 0E0105091E00 5050 01000000 5051 02000000 5052 03000000 5053 04000000"
              " 5050 FFFFFFFE 0100 00002041 0100 00004041 FF"),  // 10.0, then 12.0
          table);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].longitude, 0xFEFFFFFFu);
    EXPECT_EQ(table[0].latitude, 2u);
    EXPECT_EQ(table[0].speed, 3u);
    EXPECT_EQ(table[0].direction, 4u);
    EXPECT_DOUBLE_EQ(table[0].sensor[0], 12.0);
}

TEST(HistoryPage, AppendsAfterExistingRecordsAndGrowsPastTheOldLimit) {
    HistoryTable table(1025);
    Bytes page;
    for (int i = 0; i < 30; ++i) {
        const Bytes rec = Hex("7F7F 0E0105091E00 0100 0000803F");
        page.insert(page.end(), rec.begin(), rec.end());
    }
    page.push_back(0xFF);
    const auto r = Parse(page, table);
    EXPECT_EQ(r.recordsAdded, 30u);
    ASSERT_EQ(table.size(), 1055u);
    EXPECT_EQ(table[1025].sensorPresent[0], 1);
    EXPECT_EQ(table[1024].sensorPresent[0], 0);
}

// Pages of random bytes (mostly built from the real pieces) are parsed without reading
// past the payload (ASan), and every record counted has a complete time stamp.
TEST(HistoryPage, RandomPayloadsStayInside) {
    std::mt19937 rng(20140105);
    const Bytes pieces[] = {Hex("7F7F"),          Hex("0E0105091E00"), Hex("0100 0000CC41"),
                            Hex("5050 20BCBE00"), Hex("FF"),           Hex("7F"),
                            Hex("0105"),          Hex("5099 00000000")};
    for (int round = 0; round < 20000; ++round) {
        Bytes payload;
        const size_t target = rng() % 257;
        while (payload.size() < target) {
            if (rng() % 4 == 0) {
                payload.push_back(static_cast<uint8_t>(rng()));
            } else {
                const Bytes& p = pieces[rng() % std::size(pieces)];
                payload.insert(payload.end(), p.begin(), p.end());
            }
        }
        payload.resize(std::min<size_t>(payload.size(), 256));
        HistoryTable table;
        const auto r = Parse(payload, table);
        ASSERT_EQ(r.recordsAdded, table.size());
        // Each record needs at least its 8 header bytes.
        ASSERT_LE(table.size() * 8, payload.size());
    }
}

}  // namespace
}  // namespace r4t8
