// The four configuration blocks as bytes, outside any settings record: what a backup holds,
// what a restore writes and what a verify compares.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
#include "protocol/Frame.h"

namespace r4t8 {

constexpr size_t kRawBlocksSize = 4 * kBlockSize;
// PhoneBlock, SensorBlock, GprsBlock, SystemBlock, 256 bytes each, in that order.
using RawBlocks = std::array<uint8_t, kRawBlocksSize>;

constexpr std::array<ConfigBlock, 4> kBlockOrder{ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock,
                                                 ConfigBlock::GprsBlock, ConfigBlock::SystemBlock};

// Index 0..3 of a block in RawBlocks.
size_t RawIndex(ConfigBlock block);
// The group caption the window shows for the block ("报警号码设置" ...).
QString BlockGroupName(ConfigBlock block);

void CopyBlocksToImage(const RawBlocks& blocks, ConfigImage& image);
RawBlocks BlocksFromImage(const ConfigImage& image);

// Blocks whose 256 bytes are not the same, in block order.
std::vector<ConfigBlock> DifferingBlocks(const RawBlocks& a, const RawBlocks& b);
// "报警参数设置、系统参数".
QString BlockNames(const std::vector<ConfigBlock>& blocks);

// The device number field of SystemBlock without 0xFF, NUL or blank padding; empty when the
// field holds nothing else (all '0' counts as blank: the encoder's own padding).
QString DeviceNumberOf(const RawBlocks& blocks);

// Gives `scratch` the model set-up of `like` (sensor type lists, type codes, enabled states),
// so blocks decode into it as they would into the window after the same login.
void SetUpLike(const DeviceSettings& like, DeviceSettings& scratch);
// Decodes all four blocks into `settings`; false when a decoder stopped early.
bool DecodeBlocks(const RawBlocks& blocks, DeviceSettings& settings);
// Encodes all four blocks as a write would send them (0xFF where no field is); the first
// field that cannot be converted when one cannot.
std::optional<FieldProblem> EncodeBlocks(const DeviceSettings& settings, RawBlocks& blocks);

}  // namespace r4t8
