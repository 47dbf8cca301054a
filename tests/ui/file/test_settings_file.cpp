#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <random>
#include <set>

#include "config/DeviceSettings.h"
#include "config/RawBlocks.h"
#include "tests/support/FakeUserInterface.h"
#include "tests/ui/file/FileBytes.h"
#include "ui/file/SettingsFile.h"

using namespace r4t8;
using r4t8::testing::FakeUserInterface;

using namespace r4t8::testing;

namespace {

const QString kTitle = QStringLiteral("R4T8报警器设置软件");
const QString kLimitMessage = QStringLiteral("输入值超出范围");

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString Path(const QString& name = QStringLiteral("s.ini")) const {
        return m_dir.filePath(name);
    }
    // Loads `bytes` into a fresh record and returns it; messages go to m_ui.
    void LoadBytes(const QByteArray& bytes, DeviceSettings& settings) {
        WriteAll(Path("in.ini"), bytes);
        SettingsFile::Load(Path("in.ini"), settings, m_ui);
    }

    QTemporaryDir m_dir;
    FakeUserInterface m_ui;
};

// A value for every field of the layout that differs from its default.
void FillNonDefault(DeviceSettings& s) {
    int n = 0;
    for (const SettingsEntry& e : SettingsFile::Layout()) {
        ++n;
        switch (e.encoding) {
            case ValueEncoding::Text:
                s.SetText(e.control, QStringLiteral("%1测").arg(n));
                break;
            case ValueEncoding::Index: {
                // Every combo of the layout has at least two items.
                s.SetIndex(e.control, s.Spec(e.control)->defaultIndex == 0 ? 1 : 0);
                break;
            }
            case ValueEncoding::Flag:
                s.SetChecked(e.control, true);
                break;
            case ValueEncoding::Time:
                s.SetTime(e.control, QTime(n % 24, (7 * n) % 60, 59));
                break;
        }
    }
    s.SetText("edt_gprstimeup", "1439");  // within its limit
}

TEST_F(SettingsFileTest, EveryKeyOfTheLayoutComesBack) {
    DeviceSettings saved(&m_ui);
    FillNonDefault(saved);
    ASSERT_TRUE(SettingsFile::Save(Path(), saved, m_ui));

    DeviceSettings loaded(&m_ui);
    SettingsFile::Load(Path(), loaded, m_ui);
    EXPECT_TRUE(m_ui.messages.empty()) << m_ui.MessageTexts().join("|").toStdString();
    const DeviceSettings defaults;
    for (const SettingsEntry& e : SettingsFile::Layout()) {
        const std::string c = e.control.toStdString();
        switch (e.encoding) {
            case ValueEncoding::Text:
                EXPECT_EQ(loaded.Text(e.control), saved.Text(e.control)) << c;
                EXPECT_NE(loaded.Text(e.control), defaults.Text(e.control)) << c;
                break;
            case ValueEncoding::Index:
                EXPECT_EQ(loaded.Index(e.control), saved.Index(e.control)) << c;
                EXPECT_NE(loaded.Index(e.control), defaults.Index(e.control)) << c;
                break;
            case ValueEncoding::Flag:
                EXPECT_TRUE(loaded.Checked(e.control)) << c;
                break;
            case ValueEncoding::Time:
                EXPECT_EQ(loaded.Time(e.control), saved.Time(e.control)) << c;
                EXPECT_NE(loaded.Time(e.control), defaults.Time(e.control)) << c;
                break;
        }
    }
}

TEST_F(SettingsFileTest, LayoutNamesRealControlsOnce) {
    const DeviceSettings settings;
    std::set<QString> controls;
    std::set<std::pair<QString, QString>> keys;
    for (const SettingsEntry& e : SettingsFile::Layout()) {
        EXPECT_TRUE(settings.Has(e.control)) << e.control.toStdString();
        EXPECT_TRUE(controls.insert(e.control).second) << e.control.toStdString();
        EXPECT_TRUE(keys.insert({e.section.toLower(), e.key.toLower()}).second)
            << e.section.toStdString() << "/" << e.key.toStdString();
    }
    EXPECT_EQ(controls.size(), 98u);
    for (const char* excluded : {"cbox_com", "Edit1", "edt43", "Edit8"})
        EXPECT_FALSE(controls.count(excluded)) << excluded;
}

QByteArray ExpectedFreshFile() {
    QByteArray f = "[COM]\r\nsetPwd=5807\r\n[TEL]\r\n";
    for (int n = 1; n <= 6; ++n) f += "tel" + QByteArray::number(n) + "=\r\n";
    for (int n = 1; n <= 6; ++n)
        f += "tel" + QByteArray::number(n) + "_fun1=0\r\ntel" + QByteArray::number(n) +
             "_fun2=0\r\n";
    f += "[GPRS]\r\nip1=\r\nip2=\r\nport=8000\r\nmode=0\r\napn=" + kGbkTest +
         "\r\ngprsname=\r\ngprspwd=\r\n"
         "[OTHER]\r\ntimemode=1\r\nmytel=\r\npwd=5807\r\ndevid=\r\nrectime=5\r\n"
         "GPRSenable=0\r\nuploadtel=\r\nupmode=0\r\nrelaytime=10\r\ngprsupmode=0\r\n"
         "gprstimeup=\r\ngprspointup=00:00:00\r\n"
         "[GPRSalarmtel]\r\nfailurereport=\r\n"
         "[PIN]\r\npinverify=0\r\npincode=5807\r\n"
         "[uploading]\r\ntimealarm=24\r\n"
         "[fixedpointtime]\r\ntime1open=0\r\ntime2open=0\r\ntime3open=0\r\ntime4open=0\r\n"
         "time1time=00:00:00\r\ntime2time=00:00:00\r\ntime3time=00:00:00\r\n"
         "time4time=13:05:09\r\n";
    for (int n = 1; n <= 4; ++n)
        f += "[SENSOR" + QByteArray::number(n) +
             "]\r\nflag=0\r\nullimit=\r\nllimit=\r\nuhlimit=\r\nhlimit=\r\nrelaytime=\r\n"
             "stp=\r\nnalarm=\r\ncontime=\r\nainflag=0\r\nsvalue=\r\nevalue=\r\n";
    return f;
}

TEST_F(SettingsFileTest, FreshFileLayoutByteForByte) {
    DeviceSettings settings(&m_ui);
    settings.SetText("edt_apn", QStringLiteral("测试"));
    settings.SetTime("DateTimePicker8", QTime(13, 5, 9));
    ASSERT_TRUE(SettingsFile::Save(Path(), settings, m_ui));
    EXPECT_EQ(ReadAll(Path()), ExpectedFreshFile());
}

TEST_F(SettingsFileTest, SavingMergesIntoAnExistingFile) {
    const QByteArray before =
        "; written by hand\r\n"
        "[Extra]\r\nkeep=me\r\n\r\n"
        "[com]\r\nSETPWD = 1234\r\nmine=1\r\n"
        "; end of com\r\n"
        "\r\n"
        "[other]\r\nuploadTel=\"139\"\r\n"
        "[SENSOR1]\r\nflag=0\r\n";
    WriteAll(Path(), before);
    DeviceSettings settings(&m_ui);
    settings.SetText("edt_setpwd", "4321");
    settings.SetText("edit9", "138");
    ASSERT_TRUE(SettingsFile::Save(Path(), settings, m_ui));
    const QByteArray after = ReadAll(Path());

    // The hand-written part stands as it was, with our values put into its lines.
    const QByteArray head =
        "; written by hand\r\n"
        "[Extra]\r\nkeep=me\r\n\r\n"
        "[com]\r\nSETPWD =4321\r\nmine=1\r\n"
        "; end of com\r\n"
        "\r\n"
        "[other]\r\nuploadTel=138\r\ntimemode=1\r\nmytel=\r\n";
    EXPECT_TRUE(after.startsWith(head)) << after.left(300).toStdString();
    EXPECT_TRUE(after.contains("[SENSOR1]\r\nflag=0\r\nullimit=\r\n"));
    // Every section exists once: the file was merged into, not appended to.
    for (const char* section : {"[TEL]", "[GPRS]", "[PIN]", "[SENSOR1]", "[SENSOR4]"})
        EXPECT_EQ(after.count(section), 1) << section;
    EXPECT_FALSE(after.contains("[COM]"));
    EXPECT_FALSE(after.contains("[OTHER]"));

    DeviceSettings loaded(&m_ui);
    SettingsFile::Load(Path(), loaded, m_ui);
    EXPECT_EQ(loaded.Text("edt_setpwd"), "4321");
    EXPECT_EQ(loaded.Text("edit9"), "138");
}

TEST_F(SettingsFileTest, NamesMatchRegardlessOfCase) {
    DeviceSettings settings(&m_ui);
    LoadBytes("[com]\r\nSETPWD=1234\r\n[OTHER]\r\nUPLOADTEL=555\r\n[sensor2]\r\nSValue=-3.5\r\n",
              settings);
    EXPECT_EQ(settings.Text("edt_setpwd"), "1234");
    EXPECT_EQ(settings.Text("edit9"), "555");
    EXPECT_EQ(settings.Text("edt_Sensor2_start"), "-3.5");
}

TEST_F(SettingsFileTest, EmptyValueIsNotAMissingKey) {
    DeviceSettings empty(&m_ui);
    LoadBytes("[COM]\r\nSetPwd=\r\n[OTHER]\r\ntimemode=\r\ngprspointup=\r\n", empty);
    EXPECT_EQ(empty.Text("edt_setpwd"), "");
    EXPECT_EQ(empty.Index("cbb_timemode"), 0);

    DeviceSettings missing(&m_ui);
    LoadBytes("[COM]\r\nother=1\r\n", missing);
    EXPECT_EQ(missing.Text("edt_setpwd"), "5807");
}

TEST_F(SettingsFileTest, UploadModeStatesAfterLoading) {
    struct Case {
        const char* name;
        const char* other;
        const char* fixed;
        bool edt1;
        bool box[4];     // CheckBox2..5 enabled
        bool picker[4];  // DateTimePicker5..8 enabled
        bool checked[4];
    };
    const Case cases[] = {
        {"timed keeps the boxes checked but disabled",
         "upmode=0",
         "time1open=1\r\ntime2open=1",
         true,
         {false, false, false, false},
         {false, false, false, false},
         {true, true, false, false}},
        {"fixed times open row 1 and the chain the rest",
         "upmode=1",
         "time1open=1\r\ntime2open=1",
         false,
         {true, true, true, false},
         {true, true, true, false},
         {true, true, false, false}},
        {"fixed times with nothing checked",
         "upmode=1",
         "",
         false,
         {true, false, false, false},
         {true, false, false, false},
         {false, false, false, false}},
        {"no selection leaves the states to the chain rule",
         "upmode=7",
         "time1open=1",
         true,
         {false, true, false, false},
         {false, true, false, false},
         {true, false, false, false}},
    };
    for (const Case& c : cases) {
        DeviceSettings s(&m_ui);
        LoadBytes(
            QByteArray("[OTHER]\r\n") + c.other + "\r\n[fixedpointtime]\r\n" + c.fixed + "\r\n", s);
        EXPECT_EQ(s.Enabled("edt1"), c.edt1) << c.name;
        for (int r = 0; r < 4; ++r) {
            EXPECT_EQ(s.Enabled(QStringLiteral("CheckBox%1").arg(r + 2)), c.box[r])
                << c.name << " box row " << r + 1;
            EXPECT_EQ(s.Enabled(QStringLiteral("DateTimePicker%1").arg(r + 5)), c.picker[r])
                << c.name << " picker row " << r + 1;
            EXPECT_EQ(s.Checked(QStringLiteral("CheckBox%1").arg(r + 2)), c.checked[r])
                << c.name << " checked row " << r + 1;
        }
    }
}

TEST_F(SettingsFileTest, GprsUploadModeStatesAfterLoading) {
    struct Case {
        const char* value;
        bool interval;  // edt_gprstimeup enabled
        bool point;     // dtp_gprspointup enabled
    };
    // A fresh record has the interval enabled and the point time disabled.
    for (const Case& c : {Case{"0", true, false}, Case{"1", false, true}, Case{"-1", true, false},
                          Case{"9", true, false}}) {
        DeviceSettings s(&m_ui);
        LoadBytes(QByteArray("[OTHER]\r\ngprsupmode=") + c.value + "\r\n", s);
        EXPECT_EQ(s.Enabled("edt_gprstimeup"), c.interval) << c.value;
        EXPECT_EQ(s.Enabled("dtp_gprspointup"), c.point) << c.value;
    }
    // With no selection an earlier state stays.
    DeviceSettings s(&m_ui);
    s.SetEnabled("edt_gprstimeup", false);
    s.SetEnabled("dtp_gprspointup", true);
    LoadBytes("[OTHER]\r\ngprsupmode=5\r\n", s);
    EXPECT_FALSE(s.Enabled("edt_gprstimeup"));
    EXPECT_TRUE(s.Enabled("dtp_gprspointup"));
}

TEST_F(SettingsFileTest, IndexOutsideTheItemsGivesNoSelectionAndSavesAsMinusOne) {
    DeviceSettings s(&m_ui);
    // An analogue controller's type combos hold one item.
    s.SetItems("cbb_sensor1", {QStringLiteral("模拟")});
    LoadBytes("[SENSOR1]\r\nflag=1\r\nainflag=0x2\r\n[GPRS]\r\nmode=2\r\n", s);
    EXPECT_EQ(s.Index("cbb_sensor1"), -1);
    EXPECT_EQ(s.Index("cbb_sensor1_ain"), 2);
    EXPECT_EQ(s.Index("cbb_mode"), -1);
    ASSERT_TRUE(SettingsFile::Save(Path(), s, m_ui));
    const QByteArray saved = ReadAll(Path());
    EXPECT_TRUE(saved.contains("\r\nmode=-1\r\n"));
    EXPECT_TRUE(saved.contains("[SENSOR1]\r\nflag=-1\r\n"));
    EXPECT_TRUE(saved.contains("ainflag=2\r\n"));
}

TEST_F(SettingsFileTest, LoadingForgetsTheCodesTheLastReadLeft) {
    RawBlocks read;
    read.fill(0xFF);
    read[2 * kBlockSize + 66] = 7;  // a protocol code no list entry carries
    DeviceSettings s(&m_ui);
    DecodeBlocks(read, s);
    RawBlocks written;
    ASSERT_FALSE(EncodeBlocks(s, written));
    ASSERT_EQ(written[2 * kBlockSize + 66], 7);
    ASSERT_EQ(written[3 * kBlockSize + 46], 0xFF);

    // The file records no entry (-1) and "checked"; those are what a write then sends.
    ASSERT_TRUE(SettingsFile::Save(Path(), s, m_ui));
    SettingsFile::Load(Path(), s, m_ui);
    ASSERT_FALSE(EncodeBlocks(s, written));
    EXPECT_EQ(written[2 * kBlockSize + 66], 0xFF);
    EXPECT_EQ(written[3 * kBlockSize + 46], 1);
}

TEST_F(SettingsFileTest, GprsIntervalLimitWhileLoading) {
    struct Case {
        const char* stored;
        const char* result;
        size_t messages;
    };
    const Case cases[] = {
        {"2000", "200", 1}, {"14400", "1440", 1}, {"99999", "999", 2}, {"1440", "1440", 0},
        {"", "", 0},        {"abc", "abc", 0},    {"0", "0", 0},
    };
    for (const Case& c : cases) {
        FakeUserInterface loadUi;
        FakeUserInterface ownUi;
        DeviceSettings s(&ownUi);
        WriteAll(Path(), QByteArray("[OTHER]\r\ngprstimeup=") + c.stored + "\r\n");
        SettingsFile::Load(Path(), s, loadUi);
        EXPECT_EQ(s.Text("edt_gprstimeup"), c.result) << c.stored;
        ASSERT_EQ(loadUi.messages.size(), c.messages) << c.stored;
        for (const auto& m : loadUi.messages) EXPECT_EQ(m.text, kLimitMessage);
        EXPECT_TRUE(ownUi.messages.empty()) << "the load's interface shows the messages";
        // The record's own interface is back after the load.
        s.SetText("edt_gprstimeup", "5000");
        EXPECT_EQ(ownUi.messages.size(), 1u) << c.stored;
    }
}

TEST_F(SettingsFileTest, FileFromAWindowsPc) {
    const QByteArray file =
        "[COM]\r\nsetPwd=1234\r\n"
        "[GPRS]\r\nip1=10.0.0.1\r\napn=" +
        kGbkTest + "\r\ngprsname=\"" + kGbkTest +
        "\"\r\n"
        "[OTHER]\r\ngprspointup=7:05\r\nupmode=1\r\n"
        "[fixedpointtime]\r\ntime1open=1\r\ntime1time=23:59:58\r\n";
    DeviceSettings s(&m_ui);
    LoadBytes(file, s);
    EXPECT_EQ(s.Text("edt_setpwd"), "1234");
    EXPECT_EQ(s.Text("edt_ip1"), "10.0.0.1");
    EXPECT_EQ(s.Text("edt_apn"), QStringLiteral("测试"));
    EXPECT_EQ(s.Text("edt_gprsname"), QStringLiteral("测试"));
    EXPECT_EQ(s.Time("dtp_gprspointup"), QTime(7, 5, 0));
    EXPECT_EQ(s.Time("DateTimePicker5"), QTime(23, 59, 58));
    EXPECT_TRUE(s.Checked("CheckBox2"));
}

// Every key missing: texts empty but the password, combos at item 0, boxes unchecked.
void ExpectAllMissing(const DeviceSettings& s, const QTime& times, const std::string& what) {
    for (const SettingsEntry& e : SettingsFile::Layout()) {
        const std::string c = what + ": " + e.control.toStdString();
        switch (e.encoding) {
            case ValueEncoding::Text:
                EXPECT_EQ(s.Text(e.control), e.control == "edt_setpwd" ? "5807" : "") << c;
                break;
            case ValueEncoding::Index:
                EXPECT_EQ(s.Index(e.control), 0) << c;
                break;
            case ValueEncoding::Flag:
                EXPECT_FALSE(s.Checked(e.control)) << c;
                break;
            case ValueEncoding::Time:
                EXPECT_EQ(s.Time(e.control), times) << c;
                break;
        }
    }
}

TEST_F(SettingsFileTest, FilesThatAreNoIniLoadAsAllMissing) {
    std::mt19937 rng(7);
    QByteArray random(4096, '\0');
    for (char& b : random) b = static_cast<char>(rng());
    random.replace('[', 'x');  // no section headers by chance
    const struct {
        const char* name;
        QByteArray bytes;
        bool exists;
    } cases[] = {
        {"random bytes", random, true},
        {"png header", QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), true},
        {"empty", QByteArray(), true},
        {"missing", QByteArray(), false},
    };
    const QTime picked(9, 8, 7);
    for (const auto& c : cases) {
        DeviceSettings s(&m_ui);
        FillNonDefault(s);
        for (const SettingsEntry& e : SettingsFile::Layout())
            if (e.encoding == ValueEncoding::Time) s.SetTime(e.control, picked);
        const QString path = Path(QStringLiteral("case-%1.ini").arg(c.name));
        if (c.exists) WriteAll(path, c.bytes);
        SettingsFile::Load(path, s, m_ui);
        ExpectAllMissing(s, picked, c.name);
    }
    EXPECT_TRUE(m_ui.messages.empty());
}

TEST_F(SettingsFileTest, ControlsOutsideTheLayoutAreLeftAlone) {
    DeviceSettings s(&m_ui);
    s.SetText("Edit1", "R4T1");
    s.SetText("edt43", "V2.0");
    ASSERT_TRUE(SettingsFile::Save(Path(), s, m_ui));
    EXPECT_FALSE(ReadAll(Path()).contains("R4T1"));
    EXPECT_FALSE(ReadAll(Path()).contains("V2.0"));

    DeviceSettings other(&m_ui);
    other.SetText("Edit1", "keep");
    SettingsFile::Load(Path(), other, m_ui);
    EXPECT_EQ(other.Text("Edit1"), "keep");
    EXPECT_EQ(other.Text("edt43"), "");
}

TEST_F(SettingsFileTest, TextsAreSetAsStored) {
    DeviceSettings s(&m_ui);
    LoadBytes("[TEL]\r\ntel1=abc+12345678901234567890\r\n[PIN]\r\npincode=12345678\r\n", s);
    EXPECT_EQ(s.Text("edt_tel1"), "abc+12345678901234567890");
    EXPECT_EQ(s.Text("edt_PinCode"), "12345678");
}

TEST_F(SettingsFileTest, FailedSaveShowsTheFullNameAndKeepsTheOldFile) {
    // Root passes every permission check, so the failures here are ones root meets too.
    WriteAll(Path("plain"), "not a folder");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("folder.ini"));
    const QString targets[] = {Path("plain/s.ini"), Path("no/such/dir/s.ini"), Path("folder.ini")};
    const DeviceSettings s;
    for (const QString& target : targets) {
        FakeUserInterface ui;
        EXPECT_FALSE(SettingsFile::Save(target, s, ui)) << target.toStdString();
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(
            ui.messages[0].text,
            QStringLiteral("Unable to write to %1.").arg(QFileInfo(target).absoluteFilePath()));
        EXPECT_EQ(ui.messages[0].caption, kTitle);
        EXPECT_EQ(ui.messages[0].buttons, MsgButtons::Ok);
    }
    EXPECT_EQ(ReadAll(Path("plain")), "not a folder");
    EXPECT_TRUE(QFileInfo(Path("folder.ini")).isDir());
}

TEST_F(SettingsFileTest, WriteFailingHalfwayLeavesTheOldFileIntact) {
    // A file-size limit makes the write fail part way, even for root.
    const QByteArray old = "[Notes]\r\n" + QByteArray(64 * 1024, ';') + "\r\n[COM]\r\nsetPwd=1\r\n";
    WriteAll(Path(), old);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 16 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const DeviceSettings s;
    FakeUserInterface ui;
    const bool ok = SettingsFile::Save(Path(), s, ui);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(ok);
    EXPECT_EQ(ui.MessageTexts(), QStringList{QStringLiteral("Unable to write to %1.").arg(Path())});
    EXPECT_EQ(ReadAll(Path()), old);
    // No half-written temporary file is left beside it.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"s.ini"});
}

// Root passes every permission check; with these capabilities out of this thread's effective
// set (they stay permitted, and come back at the end of the scope) the permission bits apply
// to us as to anyone. Without root this changes nothing, and the bits apply anyway.
class PermissionBitsApply {
  public:
    PermissionBitsApply() {
        if (syscall(SYS_capget, &m_header, m_saved) != 0) return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        for (const unsigned cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            lowered[cap / 32].effective &= ~(1u << (cap % 32));
        m_lowered = syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~PermissionBitsApply() {
        if (m_lowered) syscall(SYS_capset, &m_header, m_saved);
    }
    PermissionBitsApply(const PermissionBitsApply&) = delete;
    PermissionBitsApply& operator=(const PermissionBitsApply&) = delete;

  private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_lowered = false;
};

// The program's own folder once installed: no new file may be made in it (so no temporary
// file beside the settings file), while the settings file itself may be writable.
TEST_F(SettingsFileTest, ReadOnlyFolderRewritesAWritableFileInPlaceOrKeepsIt) {
    const QByteArray old = "[Notes]\r\nsite=\xC2\xB7 kept\r\n[TEL]\r\ntel1=1\r\n";
    const QByteArray longValue =
        "[Notes]\r\nsite=\xC2\xB7 kept\r\n[TEL]\r\ntel1=" + QByteArray(8000, '1') + "\r\n";
    DeviceSettings s;
    s.SetText("edt_tel1", "13800138000");

    struct Case {
        const char* what;
        QByteArray before;  // empty: no file
        QFile::Permissions file;
        rlim_t sizeLimit;  // RLIM_INFINITY, or a file-size limit the new content exceeds
        bool saved;
    };
    const QFile::Permissions rw = QFile::ReadOwner | QFile::WriteOwner;
    const Case cases[] = {
        {"writable file, longer content", old, rw, RLIM_INFINITY, true},
        {"writable file, shorter content", longValue, rw, RLIM_INFINITY, true},
        {"read-only file", old, QFile::ReadOwner, RLIM_INFINITY, false},
        {"no file", {}, rw, RLIM_INFINITY, false},
        {"disk too small for the new content", old, rw, static_cast<rlim_t>(old.size() + 8), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // What a save into a writable folder makes of the same file.
        WriteAll(Path("reference.ini"), c.before);
        ASSERT_TRUE(SettingsFile::Save(Path("reference.ini"), s, m_ui));
        const QByteArray merged = ReadAll(Path("reference.ini"));

        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString target = dir.filePath("setini.ini");
        if (!c.before.isEmpty()) {
            WriteAll(target, c.before);
            ASSERT_TRUE(QFile::setPermissions(target, c.file));
        }
        const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        FakeUserInterface ui;
        bool ok = false;
        {
            PermissionBitsApply bits;
            QFile probe(dir.filePath("probe"));
            if (probe.open(QIODevice::WriteOnly)) {
                probe.remove();
                QFile::setPermissions(dir.path(), open);
                GTEST_SKIP() << "this process can create files in a read-only folder "
                                "(root, and CAP_DAC_OVERRIDE could not be dropped)";
            }
            rlimit saved{};
            ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
            auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = saved;
            limit.rlim_cur = c.sizeLimit;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
            ok = SettingsFile::Save(target, s, ui);
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, previousHandler);
        }
        ASSERT_TRUE(QFile::setPermissions(dir.path(), open));
        EXPECT_EQ(ok, c.saved);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                  c.before.isEmpty() ? QStringList{} : QStringList{"setini.ini"});
        if (c.saved) {
            EXPECT_TRUE(ui.messages.empty());
            EXPECT_EQ(ReadAll(target), merged);
        } else {
            EXPECT_EQ(ui.MessageTexts(),
                      QStringList{QStringLiteral("Unable to write to %1.").arg(target)});
            if (!c.before.isEmpty()) {
                EXPECT_EQ(ReadAll(target), c.before);
            }
        }
    }
}

TEST(SettingsFileNames, ProposedNameAndExtension) {
    EXPECT_EQ(SettingsFile::ProposedFileName(QDateTime(QDate(2026, 12, 7), QTime(3, 10, 36))),
              "setini2026-12-07_03-10-36");
    EXPECT_EQ(SettingsFile::ProposedFileName(QDateTime(QDate(2026, 1, 2), QTime(23, 4, 5))),
              "setini2026-01-02_23-04-05");
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"/tmp/a", "/tmp/a.ini"},
        {"/tmp/a.ini", "/tmp/a.ini"},
        {"/tmp/a.txt", "/tmp/a.txt"},
        {"/tmp/x.d/a", "/tmp/x.d/a.ini"},
        {"setini2026-12-07_03-10-36", "setini2026-12-07_03-10-36.ini"},
    };
    for (const auto& c : cases) EXPECT_EQ(SettingsFile::WithDefaultExtension(c.in), c.out);
}

TEST(SettingsFileTimes, WrittenAs24HourReadLeniently) {
    EXPECT_EQ(SettingsFile::FormatTime(QTime(23, 5, 9)), "23:05:09");
    EXPECT_EQ(SettingsFile::FormatTime(QTime(0, 0, 0)), "00:00:00");
    const struct {
        const char* text;
        QTime expected;  // invalid: unparsable
    } cases[] = {
        {"7:5", QTime(7, 5)},
        {"07:05", QTime(7, 5)},
        {"23:59:59", QTime(23, 59, 59)},
        {" 1:02:03 ", QTime(1, 2, 3)},
        {"0:0:0", QTime(0, 0)},
        {"24:00", QTime()},
        {"12:60", QTime()},
        {"12:00:60", QTime()},
        {"1:2:3:4", QTime()},
        {"12", QTime()},
        {"", QTime()},
        {"ab:cd", QTime()},
        {"1:2:", QTime()},
        {"123:00", QTime()},
        {"-1:00", QTime()},
        {"12:00 PM", QTime()},
    };
    for (const auto& c : cases) EXPECT_EQ(SettingsFile::ParseTime(c.text), c.expected) << c.text;
}

TEST_F(SettingsFileTest, UnparsableTimeLeavesThePickerAlone) {
    DeviceSettings s(&m_ui);
    s.SetTime("DateTimePicker6", QTime(4, 5, 6));
    LoadBytes("[fixedpointtime]\r\ntime2time=25:00\r\n", s);
    EXPECT_EQ(s.Time("DateTimePicker6"), QTime(4, 5, 6));
}

TEST_F(SettingsFileTest, RandomFilesLoadWithoutHarm) {
    std::mt19937 rng(42);
    const char alphabet[] = "[]=;\"' \r\nOTHERSENSOR1COMTELflagupmodegprstimeup0123456789x:";
    for (int iteration = 0; iteration < 1000; ++iteration) {
        QByteArray bytes(static_cast<int>(rng() % 400), '\0');
        for (char& b : bytes)
            b = (rng() % 3) ? alphabet[rng() % (sizeof alphabet - 1)] : static_cast<char>(rng());
        WriteAll(Path(), bytes);
        DeviceSettings s(&m_ui);
        SettingsFile::Load(Path(), s, m_ui);
        // Whatever was read, the interval ends within its limit or unparsable.
        bool number = false;
        const int interval = s.Text("edt_gprstimeup").toInt(&number);
        if (number) {
            ASSERT_LE(interval, 1440) << "iteration " << iteration;
        }
    }
}

}  // namespace
