#include "CompoundFile.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace r4t8::workbook {

namespace {

constexpr size_t kSector = 512;
constexpr size_t kIdsPerSector = kSector / 4;
constexpr size_t kHeaderDifatEntries = 109;
constexpr size_t kMinStream = 4096;  // below this a stream would belong in the mini stream
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kNoStream = 0xFFFFFFFF;

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutDirEntry(uint8_t* e, const char16_t* name, uint8_t type, uint32_t child, uint32_t start,
                 uint32_t size) {
    size_t n = 0;
    for (; name[n]; ++n) Put16(e + 2 * n, static_cast<uint16_t>(name[n]));
    Put16(e + 64, static_cast<uint16_t>(2 * (n + 1)));
    e[66] = type;
    e[67] = 1;  // black: a tree of one node
    Put32(e + 68, kNoStream);
    Put32(e + 72, kNoStream);
    Put32(e + 76, child);
    Put32(e + 116, start);
    Put32(e + 120, size);
}

bool WriteAll(QIODevice& out, const void* data, size_t n) {
    return out.write(static_cast<const char*>(data), static_cast<qint64>(n)) ==
           static_cast<qint64>(n);
}

}  // namespace

bool WriteCompoundFile(QIODevice& out, const std::vector<uint8_t>& stream) {
    const size_t streamSize = std::max(stream.size(), kMinStream);
    const size_t streamSectors = (streamSize + kSector - 1) / kSector;

    // The allocation table must also cover its own sectors and those of the DIFAT chain
    // that lists them once the header's 109 slots are full.
    size_t fatSectors = 1, difatSectors = 0;
    for (;;) {
        const size_t total = streamSectors + 1 + fatSectors + difatSectors;
        const size_t needFat = (total + kIdsPerSector - 1) / kIdsPerSector;
        const size_t needDifat =
            needFat > kHeaderDifatEntries
                ? (needFat - kHeaderDifatEntries + kIdsPerSector - 2) / (kIdsPerSector - 1)
                : 0;
        if (needFat == fatSectors && needDifat == difatSectors) break;
        fatSectors = std::max(fatSectors, needFat);
        difatSectors = std::max(difatSectors, needDifat);
    }
    const uint32_t dirSector = static_cast<uint32_t>(streamSectors);
    const uint32_t firstFat = dirSector + 1;
    const uint32_t firstDifat = firstFat + static_cast<uint32_t>(fatSectors);

    std::array<uint8_t, kSector> header{};
    static const uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(header.data(), kSignature, 8);
    Put16(&header[24], 0x003E);
    Put16(&header[26], 0x0003);
    Put16(&header[28], 0xFFFE);
    Put16(&header[30], 9);  // 512-byte sectors
    Put16(&header[32], 6);  // 64-byte mini sectors
    Put32(&header[44], static_cast<uint32_t>(fatSectors));
    Put32(&header[48], dirSector);
    Put32(&header[56], kMinStream);
    Put32(&header[60], kEndOfChain);
    Put32(&header[68], difatSectors ? firstDifat : kEndOfChain);
    Put32(&header[72], static_cast<uint32_t>(difatSectors));
    for (size_t i = 0; i < kHeaderDifatEntries; ++i)
        Put32(&header[76 + 4 * i],
              i < fatSectors ? firstFat + static_cast<uint32_t>(i) : kFreeSect);
    if (!WriteAll(out, header.data(), header.size())) return false;

    if (!stream.empty() && !WriteAll(out, stream.data(), stream.size())) return false;
    const std::vector<uint8_t> padding(streamSectors * kSector - stream.size(), 0);
    if (!padding.empty() && !WriteAll(out, padding.data(), padding.size())) return false;

    std::array<uint8_t, kSector> dir{};
    PutDirEntry(&dir[0], u"Root Entry", 5, 1, kEndOfChain, 0);
    PutDirEntry(&dir[128], u"Workbook", 2, kNoStream, 0, static_cast<uint32_t>(streamSize));
    for (size_t e = 2; e < 4; ++e) {
        Put32(&dir[128 * e + 68], kNoStream);
        Put32(&dir[128 * e + 72], kNoStream);
        Put32(&dir[128 * e + 76], kNoStream);
    }
    if (!WriteAll(out, dir.data(), dir.size())) return false;

    std::vector<uint8_t> fat(fatSectors * kSector, 0xFF);  // FREESECT everywhere first
    uint32_t id = 0;
    for (; id + 1 < streamSectors; ++id) Put32(&fat[4 * id], id + 1);
    Put32(&fat[4 * id++], kEndOfChain);  // last stream sector
    Put32(&fat[4 * id++], kEndOfChain);  // the directory
    for (size_t i = 0; i < fatSectors; ++i) Put32(&fat[4 * id++], kFatSect);
    for (size_t i = 0; i < difatSectors; ++i) Put32(&fat[4 * id++], kDifSect);
    if (!WriteAll(out, fat.data(), fat.size())) return false;

    std::vector<uint8_t> difat(difatSectors * kSector, 0xFF);
    size_t listed = kHeaderDifatEntries;
    for (size_t s = 0; s < difatSectors; ++s) {
        uint8_t* sector = &difat[s * kSector];
        for (size_t i = 0; i + 1 < kIdsPerSector && listed < fatSectors; ++i, ++listed)
            Put32(sector + 4 * i, firstFat + static_cast<uint32_t>(listed));
        Put32(sector + kSector - 4,
              s + 1 < difatSectors ? firstDifat + static_cast<uint32_t>(s + 1) : kEndOfChain);
    }
    return difat.empty() || WriteAll(out, difat.data(), difat.size());
}

}  // namespace r4t8::workbook
