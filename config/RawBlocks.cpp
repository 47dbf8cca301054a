#include "config/RawBlocks.h"

#include <QStringList>
#include <algorithm>
#include <cstring>

#include "config/TextCodec.h"

namespace r4t8 {

namespace {

constexpr size_t kDeviceNumberOffset = 27;
constexpr size_t kDeviceNumberWidth = 15;

}  // namespace

size_t RawIndex(ConfigBlock block) {
    switch (block) {
        case ConfigBlock::PhoneBlock:
            return 0;
        case ConfigBlock::SensorBlock:
            return 1;
        case ConfigBlock::GprsBlock:
            return 2;
        case ConfigBlock::SystemBlock:
            return 3;
    }
    return 0;
}

QString BlockGroupName(ConfigBlock block) {
    switch (block) {
        case ConfigBlock::PhoneBlock:
            return QStringLiteral("报警号码设置");
        case ConfigBlock::SensorBlock:
            return QStringLiteral("报警参数设置");
        case ConfigBlock::GprsBlock:
            return QStringLiteral("GPRS参数设置");
        case ConfigBlock::SystemBlock:
            return QStringLiteral("系统参数");
    }
    return QString();
}

void CopyBlocksToImage(const RawBlocks& blocks, ConfigImage& image) {
    for (ConfigBlock block : kBlockOrder)
        std::memcpy(image.data() + BlockAddress(block),
                    blocks.data() + RawIndex(block) * kBlockSize, kBlockSize);
}

RawBlocks BlocksFromImage(const ConfigImage& image) {
    RawBlocks blocks;
    for (ConfigBlock block : kBlockOrder)
        std::memcpy(blocks.data() + RawIndex(block) * kBlockSize,
                    image.data() + BlockAddress(block), kBlockSize);
    return blocks;
}

std::vector<ConfigBlock> DifferingBlocks(const RawBlocks& a, const RawBlocks& b) {
    std::vector<ConfigBlock> out;
    for (ConfigBlock block : kBlockOrder) {
        const size_t at = RawIndex(block) * kBlockSize;
        if (std::memcmp(a.data() + at, b.data() + at, kBlockSize) != 0) out.push_back(block);
    }
    return out;
}

QString BlockNames(const std::vector<ConfigBlock>& blocks) {
    QStringList names;
    for (ConfigBlock block : blocks) names << BlockGroupName(block);
    return names.join(QStringLiteral("、"));
}

QString DeviceNumberOf(const RawBlocks& blocks) {
    const uint8_t* field =
        blocks.data() + RawIndex(ConfigBlock::SystemBlock) * kBlockSize + kDeviceNumberOffset;
    std::vector<uint8_t> kept;
    for (size_t i = 0; i < kDeviceNumberWidth; ++i)
        if (field[i] != 0xFF && field[i] != 0x00 && field[i] != ' ') kept.push_back(field[i]);
    if (std::all_of(kept.begin(), kept.end(), [](uint8_t c) { return c == '0'; })) return {};
    return DecodeDeviceText(kept.data(), kept.size());
}

void SetUpLike(const DeviceSettings& like, DeviceSettings& scratch) {
    scratch.SensorTypeCodes() = like.SensorTypeCodes();
    for (const FieldSpec& spec : like.Specs()) {
        if (spec.kind == FieldKind::Choice)
            scratch.SetItems(spec.name, like.Items(spec.name), like.Index(spec.name));
        scratch.SetEnabled(spec.name, like.Enabled(spec.name));
    }
}

bool DecodeBlocks(const RawBlocks& blocks, DeviceSettings& settings) {
    ConfigImage image;
    image.fill(0xFF);
    CopyBlocksToImage(blocks, image);
    bool complete = true;
    for (ConfigBlock block : kBlockOrder)
        complete = DecodeBlock(block, image, settings) && complete;
    return complete;
}

std::optional<FieldProblem> EncodeBlocks(const DeviceSettings& settings, RawBlocks& blocks) {
    for (ConfigBlock block : kBlockOrder)
        if (auto problem = ValidateBlock(block, settings)) return problem;
    ConfigImage image;
    image.fill(0xFF);
    for (ConfigBlock block : kBlockOrder) EncodeBlock(block, settings, image);
    blocks = BlocksFromImage(image);
    return std::nullopt;
}

}  // namespace r4t8
