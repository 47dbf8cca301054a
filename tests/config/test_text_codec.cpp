#include <gtest/gtest.h>

#include <random>

#include "config/TextCodec.h"

namespace r4t8 {
namespace {

using B = std::vector<uint8_t>;

TEST(TextCodec, KnownAnswers) {
    struct Case {
        QString text;
        B bytes;
    };
    const Case cases[] = {
        {QStringLiteral("cmnet"), {'c', 'm', 'n', 'e', 't'}},
        {QStringLiteral("中文"), {0xD6, 0xD0, 0xCE, 0xC4}},
        {QStringLiteral("A报警"), {'A', 0xB1, 0xA8, 0xBE, 0xAF}},
        {QString(15, QChar(0xFF)), B(15, 0xFF)},  // a blank device number
        {QString(QChar(0x80)) + QChar(0xB0), {0x80, 0xB0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(EncodeDeviceText(c.text), c.bytes);
        EXPECT_EQ(DecodeDeviceText(c.bytes.data(), c.bytes.size()), c.text);
    }
    // No GBK character: a question mark, one byte.
    EXPECT_EQ(EncodeDeviceText(QString::fromUcs4(U"\U0001F600x")), (B{'?', 'x'}));
    // A lone lead byte at the end and a lead byte before an invalid trail stay raw bytes.
    const B odd{'a', 0xD6};
    EXPECT_EQ(DecodeDeviceText(odd.data(), odd.size()), QString("a") + QChar(0xD6));
    const B badTrail{0xD6, 0x7F};
    EXPECT_EQ(DecodeDeviceText(badTrail.data(), 2), QString(QChar(0xD6)) + QChar(0x7F));
    // A pair that GBK reads as a Latin-1 character (A1 E3 is the degree sign) stays two bytes.
    const B degree{0xA1, 0xE3};
    EXPECT_EQ(DecodeDeviceText(degree.data(), 2), QString(QChar(0xA1)) + QChar(0xE3));
}

TEST(TextCodec, CutNeverSplitsACharacter) {
    const QString text = QStringLiteral("ab中文");  // 2 + 2 + 2 bytes
    EXPECT_EQ(EncodeDeviceText(text, 6).size(), 6u);
    EXPECT_EQ(EncodeDeviceText(text, 5), (B{'a', 'b', 0xD6, 0xD0}));
    EXPECT_EQ(EncodeDeviceText(text, 3), (B{'a', 'b'}));
    EXPECT_TRUE(EncodeDeviceText(text, 0).empty());
}

TEST(TextCodec, EveryDecodedByteSequenceEncodesBackExactly) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255), len(0, 40);
    for (int round = 0; round < 5000; ++round) {
        B bytes(static_cast<size_t>(len(rng)));
        for (auto& b : bytes)
            b = static_cast<uint8_t>(byte(rng) < 128 ? 0x81 + byte(rng) % 126 : byte(rng));
        const QString text = DecodeDeviceText(bytes.data(), bytes.size());
        ASSERT_EQ(EncodeDeviceText(text), bytes) << round;
        ASSERT_EQ(ToDeviceBytes(FromDeviceBytes(ToDeviceBytes(text))), ToDeviceBytes(text));
    }
}

}  // namespace
}  // namespace r4t8
