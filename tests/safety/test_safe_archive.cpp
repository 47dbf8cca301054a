// The archive's folders and files, and the field diff.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <functional>

#include "safety/ConfigArchive.h"
#include "safety/SettingsDiff.h"

namespace r4t8 {
namespace {

RawBlocks WithDeviceNumber(const char* field15) {
    RawBlocks b;
    b.fill(0xFF);
    std::memcpy(b.data() + 3 * kBlockSize + 27, field15, 15);
    return b;
}

TEST(DeviceNumber, TrimmedOfPaddingAndBlankWhenNothingElse) {
    struct Case {
        const char* field;
        const char* expected;
    } cases[] = {
        {"861234567890123", "861234567890123"},
        {"000000012345678", "000000012345678"},
        {"\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", ""},
        {"000000000000000", ""},
        {"  12AB\0\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF", "12AB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DeviceNumberOf(WithDeviceNumber(c.field)), QString::fromLatin1(c.expected))
            << c.expected;
}

TEST(ArchiveFolder, NamedSafelyByDeviceNumberElseModel) {
    struct Case {
        const char* number;
        const char* model;
        const char* expected;
    } cases[] = {
        {"861234567890123", "R4T1", "861234567890123"},
        {"", "R4T1", "R4T1"},
        {"  ", "R4T3", "R4T3"},
        {"../../etc", "R4T1", "_._.._etc"},
        {"a/b\\c:d*e", "R4T1", "a_b_c_d_e"},
        {"", "", "unknown"},
        {"..", "", "_."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ConfigArchive::FolderName(c.number, c.model), QString::fromLatin1(c.expected))
            << c.number;
}

TEST(Archive, StoresListsNewestFirstAndLoadsBack) {
    QTemporaryDir dir;
    ConfigArchive archive(dir.path() + "/a");
    RawBlocks blocks = WithDeviceNumber("000000000000042");
    blocks[5] = 0x12;
    DeviceSettings decoded;
    DecodeBlocks(blocks, decoded);
    const QDateTime t0(QDate(2026, 12, 8), QTime(3, 10, 36));
    QString error;
    const auto first = archive.Store(blocks, decoded, "R4T1", t0, error);
    ASSERT_TRUE(first) << error.toStdString();
    EXPECT_EQ(first->BinPath(), dir.path() + "/a/000000000000042/2026-12-08_03-10-36.bin");
    // Same second: a second backup keeps the first.
    const auto second = archive.Store(blocks, decoded, "R4T1", t0, error);
    ASSERT_TRUE(second);
    EXPECT_NE(second->BinPath(), first->BinPath());
    const auto third =
        archive.Store(WithDeviceNumber("000000000000000"), decoded, "R4T2", t0.addSecs(60), error);
    ASSERT_TRUE(third);

    const auto list = archive.List();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].model, QStringLiteral("R4T2"));
    EXPECT_EQ(list[0].deviceNumber, QString());
    EXPECT_EQ(list[1].stem, second->stem);
    EXPECT_EQ(list[2].deviceNumber, QStringLiteral("000000000000042"));
    EXPECT_EQ(list[2].time, t0);
    EXPECT_TRUE(QFile::exists(list[2].IniPath()));
    const auto loaded = ConfigArchive::LoadBlocks(list[2].BinPath(), error);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(*loaded == blocks);

    // A backup whose raw file is damaged is not listed.
    QFile::resize(list[1].BinPath(), 1000);
    EXPECT_EQ(archive.List().size(), 2u);
}

TEST(Archive, LoadRefusesAnythingButExactly1024Bytes) {
    QTemporaryDir dir;
    for (int size : {0, 1023, 1025, 4096}) {
        const QString path = dir.filePath(QString::number(size));
        std::ofstream(path.toStdString(), std::ios::binary) << std::string(size, 'x');
        QString error;
        EXPECT_FALSE(ConfigArchive::LoadBlocks(path, error)) << size;
        EXPECT_FALSE(error.isEmpty());
    }
    QString error;
    EXPECT_FALSE(ConfigArchive::LoadBlocks(dir.filePath("missing"), error));
}

TEST(Archive, UnwritableRootFailsAndLeavesNothing) {
    QTemporaryDir dir;
    const QString blocker = dir.filePath("file");
    std::ofstream(blocker.toStdString()) << "x";
    ConfigArchive archive(blocker + "/a");
    DeviceSettings decoded;
    QString error;
    EXPECT_FALSE(archive.Store(RawBlocks{}, decoded, "R4T1", QDateTime::currentDateTime(), error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(archive.List().empty());
}

TEST(Diff, ListsExactlyTheFieldsThatDiffer) {
    DeviceSettings a, b;
    b.SetText("edt_tel2", "13800138000");
    b.SetIndex("cbb_mode", a.Index("cbb_mode") == 0 ? 1 : 0);
    b.SetChecked("chk1", !a.Checked("chk1"));
    b.SetText("edt_setpwd", "1234");  // the login password is no part of the blocks
    const auto changes = DiffSettings(a, b);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].name, QStringLiteral("edt_tel2"));
    EXPECT_EQ(changes[0].after, QStringLiteral("13800138000"));
    EXPECT_EQ(changes[1].name, QStringLiteral("cbb_mode"));
    EXPECT_EQ(changes[1].after, b.Items("cbb_mode").at(b.Index("cbb_mode")));
    EXPECT_EQ(changes[2].name, QStringLiteral("chk1"));
    EXPECT_TRUE(DiffSettings(a, a).empty());
}

TEST(Diff, WriteDiffComparesAsTheControllerWouldHoldTheValues) {
    DeviceSettings window;
    RawBlocks current;
    window.SetText("edt_Sensor1_SLow", "25.30");
    ASSERT_FALSE(EncodeBlocks(window, current));
    window.SetText("edt_Sensor1_SLow", "25.3");  // same single-precision value
    EXPECT_TRUE(DiffWrite(current, window).changes.empty());
    window.SetText("edt_Sensor1_SLow", "25.4");
    const WriteDiff diff = DiffWrite(current, window);
    ASSERT_EQ(diff.changes.size(), 1u);
    EXPECT_EQ(diff.changes[0].before, QStringLiteral("25.30"));
    EXPECT_EQ(diff.changes[0].after, QStringLiteral("25.40"));
    EXPECT_TRUE(diff.changes[0].label.contains(QStringLiteral("超低限值")));
    window.SetText("edt_port", "x");
    EXPECT_TRUE(DiffWrite(current, window).problem.has_value());
}

TEST(Diff, VerifyNamesTheFieldsReadBackOtherwiseAndBytesNoFieldOwns) {
    DeviceSettings window;
    window.SetText("edt_tel1", "13800138000");
    window.SetText("edt_Sensor2_High", "45.00");
    window.SetText("edt_port", "8000");
    RawBlocks sent;
    ASSERT_FALSE(EncodeBlocks(window, sent));
    const size_t phone = 0, sensor = kBlockSize, gprs = 2 * kBlockSize;

    struct Case {
        const char* what;
        std::function<void(RawBlocks&)> change;
        std::vector<ConfigBlock> blocks, bytesOnly;
        QStringList lines;  // the field lines, in block order
    };
    const std::vector<Case> cases = {
        {"identical", [](RawBlocks&) {}, {}, {}, {}},
        {"a normalised number: one field",
         [&](RawBlocks& b) { b[phone + 2 + 10] = '1'; },
         {ConfigBlock::PhoneBlock},
         {},
         {QStringLiteral("报警号码设置 电话号1：写入 13800138000，读回 13800138001")}},
        {"a byte beyond the used length: the block only",
         [&](RawBlocks& b) { b[gprs + 200] = 0; },
         {ConfigBlock::GprsBlock},
         {ConfigBlock::GprsBlock},
         {}},
        {"a reserved byte in one block, a port in another",
         [&](RawBlocks& b) {
             b[sensor + 36 + 25] = 0;
             b[gprs + 64] = 0x41;
         },
         {ConfigBlock::SensorBlock, ConfigBlock::GprsBlock},
         {ConfigBlock::SensorBlock},
         {QStringLiteral("GPRS参数设置 端口：写入 8000，读回 8001")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawBlocks back = sent;
        c.change(back);
        const VerifyDiff diff = DiffVerify(sent, back, window);
        EXPECT_EQ(diff.blocks, c.blocks);
        EXPECT_EQ(diff.bytesOnly, c.bytesOnly);
        EXPECT_EQ(diff.Empty(), c.blocks.empty());
        if (diff.Empty()) continue;
        QStringList lines = FormatVerify(diff).split('\n');
        EXPECT_EQ(
            lines.takeFirst(),
            QStringLiteral("校验失败，控制器中的以下设置与写入的不一致：") + BlockNames(c.blocks));
        for (ConfigBlock b : c.bytesOnly)
            EXPECT_EQ(lines.takeLast(),
                      BlockGroupName(b) + QStringLiteral("：各项设置相同，但块中的字节不同"));
        EXPECT_EQ(lines, c.lines);
    }
}

TEST(Diff, VerifyOfALostBlockListsTwentyFieldsAndCountsTheRest) {
    DeviceSettings window;
    for (int n = 1; n <= 4; ++n) {
        window.SetText(QStringLiteral("edt_Sensor%1_STP").arg(n), "1");
        window.SetText(QStringLiteral("edt_Sensor%1_Relay").arg(n), "10");
        window.SetText(QStringLiteral("edt_Sensor%1_SLow").arg(n), "-10");
    }
    RawBlocks sent;
    ASSERT_FALSE(EncodeBlocks(window, sent));
    RawBlocks back = sent;
    std::fill_n(back.begin() + kBlockSize, kBlockSize, 0xFF);  // the sensor block erased only
    const VerifyDiff diff = DiffVerify(sent, back, window);
    ASSERT_GT(diff.fields.size(), 20u);
    for (const FieldChange& f : diff.fields)
        EXPECT_TRUE(f.label.startsWith("报警参数设置")) << f.label.toStdString();
    const QStringList lines = FormatVerify(diff).split('\n');
    ASSERT_EQ(lines.size(), 1 + 20 + 1);
    EXPECT_EQ(lines.back(), QStringLiteral("……另有 %1 项不一致").arg(diff.fields.size() - 20));
    // The erased type list comes back without a selection, then the limits.
    EXPECT_EQ(lines[1], QStringLiteral("报警参数设置1 传感器1：写入 摄氏度，读回 未选择 (FF)"));
    EXPECT_EQ(lines[2], QStringLiteral("报警参数设置1 超低限值：写入 -10.00，读回 NAN"));
    EXPECT_EQ(FormatVerify(diff, 100).split('\n').size(), 1 + static_cast<int>(diff.fields.size()));
}

TEST(Diff, CodesAReadLeftCountAsTheBytesTheyWriteBack) {
    RawBlocks blank;
    blank.fill(0xFF);
    DeviceSettings window;
    DecodeBlocks(blank, window);
    // An unchanged blank controller: nothing to write.
    EXPECT_TRUE(DiffWrite(blank, window).changes.empty());

    // Lists without an entry and checked flags differ by the bytes they write back.
    RawBlocks other = blank;
    other[2 * kBlockSize + 66] = 7;  // protocol
    other[3 * kBlockSize + 46] = 1;  // verify PIN, checked either way
    const auto changes = DiffBlocks(blank, other, window);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].name, QStringLiteral("cbb_mode"));
    EXPECT_EQ(changes[0].before, QStringLiteral("未选择 (FF)"));
    EXPECT_EQ(changes[0].after, QStringLiteral("未选择 (07)"));
    EXPECT_EQ(changes[1].name, QStringLiteral("chk1"));
    EXPECT_EQ(changes[1].before, QStringLiteral("选中 (FF)"));
    EXPECT_EQ(changes[1].after, QStringLiteral("选中"));

    // A settings file's list without an entry writes 0xFF: the same as a blank one.
    DeviceSettings file;
    file.SetIndex("cbb_mode", -1);
    window.SetIndex("cbb_timemode", 0);
    file.SetIndex("cbb_timemode", 0);
    const auto fromFile = DiffSettings(window, file);
    for (const FieldChange& c : fromFile) EXPECT_NE(c.name, QStringLiteral("cbb_mode"));
}

TEST(RawBlocksCompare, NamesTheDifferingBlocksInOrder) {
    RawBlocks a{}, b{};
    EXPECT_TRUE(DifferingBlocks(a, b).empty());
    b[3 * kBlockSize + 255] = 1;
    b[1 * kBlockSize] = 1;
    const auto differing = DifferingBlocks(a, b);
    ASSERT_EQ(differing.size(), 2u);
    EXPECT_EQ(BlockNames(differing), QStringLiteral("报警参数设置、系统参数"));
}

}  // namespace
}  // namespace r4t8
