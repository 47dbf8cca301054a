#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <climits>
#include <random>

#include "tests/ui/file/FileBytes.h"
#include "ui/file/ProfileFile.h"

using namespace r4t8;

using namespace r4t8::testing;

namespace {

const QString kTest = QStringLiteral("测试");

TEST(ProfileFileRead, ClassicRules) {
    struct Case {
        const char* file;
        const char* section;
        const char* key;
        const char* expected;  // default is "<def>"
    };
    const Case cases[] = {
        {"[A]\r\nk=v\r\n", "A", "k", "v"},
        {"[A]\nk=v\n", "A", "k", "v"},          // LF only
        {"[A]\r\nk=v", "A", "k", "v"},          // no final line end
        {"[a]\r\nKEY=v\r\n", "A", "key", "v"},  // names regardless of case
        {"  [ A ]  \r\n  k  =  v w  \r\n", "A", "k", "v w"},
        {"[A]\r\nk=\t\"quoted\"\t\r\n", "A", "k", "quoted"},
        {"[A]\r\nk='single'\r\n", "A", "k", "single"},
        {"[A]\r\nk=\"\"\"\r\n", "A", "k", "\""},  // one pair only
        {"[A]\r\nk=\"mixed'\r\n", "A", "k", "\"mixed'"},
        {"[A]\r\nk=\"\r\n", "A", "k", "\""},
        {"[A]\r\nk=a=b\r\n", "A", "k", "a=b"},  // the first '=' splits
        {"[A]\r\nk=\r\n", "A", "k", ""},        // empty, not the default
        {"[A]\r\nk=   \r\n", "A", "k", ""},
        {"[A]\r\nk\r\n", "A", "k", "<def>"},     // no '=': no entry
        {"[A]\r\n;k=v\r\n", "A", "k", "<def>"},  // comment
        {"[A]\r\nother=v\r\n", "A", "k", "<def>"},
        {"[B]\r\nk=v\r\n", "A", "k", "<def>"},
        {"k=v\r\n[A]\r\n", "A", "k", "<def>"},         // before any section
        {"[A]\r\n[B]\r\nk=v\r\n", "A", "k", "<def>"},  // belongs to the next section
        {"[A]\r\nk=1\r\n[B]\r\n[A]\r\nk=2\r\n", "A", "k", "1"},
        {"[A]\r\nk=1\r\nk=2\r\n", "A", "k", "1"},
        {"[A\r\nk=v\r\n", "A", "k", "<def>"},  // no ']': no section
        {"[A] ; note\r\nk=v\r\n", "A", "k", "v"},
        {"[A]\r\n\r\n; c\r\n\r\nk=v\r\n", "A", "k", "v"},
        {"", "A", "k", "<def>"},
    };
    for (const Case& c : cases) {
        const ProfileFile p = ProfileFile::FromBytes(QByteArray(c.file));
        EXPECT_EQ(p.ReadString(c.section, c.key, "<def>"), QString::fromUtf8(c.expected))
            << "file: " << c.file;
    }
}

TEST(ProfileFileRead, ValuesAreCutAt2047Characters) {
    const QByteArray longValue(5000, 'x');
    const ProfileFile p = ProfileFile::FromBytes("[A]\r\nk=" + longValue + "\r\n");
    EXPECT_EQ(p.ReadString("A", "k", {}), QString(2047, u'x'));
    const ProfileFile exact = ProfileFile::FromBytes("[A]\r\nk=" + QByteArray(2047, 'y'));
    EXPECT_EQ(exact.ReadString("A", "k", {}).size(), 2047);
}

TEST(ProfileFileRead, Integers) {
    struct Case {
        const char* text;
        int expected;  // default -7
    };
    const Case cases[] = {
        {"0", 0},
        {"12", 12},
        {"-1", -1},
        {"+7", 7},
        {"007", 7},
        {"0x1F", 31},
        {"0X1f", 31},
        {"0x0", 0},
        {"0xFFFFFFFF", -1},
        {"0x100000000", -7},
        {"0x", -7},
        {"0xG", -7},
        {"0x-1", -7},
        {"12a", -7},
        {"1 2", -7},
        {"", -7},
        {"-", -7},
        {"x", -7},
        {"2147483647", INT_MAX},
        {"2147483648", -7},
        {"-2147483648", INT_MIN},
        {"-2147483649", -7},
        {"99999999999999999999", -7},
        {"1.5", -7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseProfileInteger(QString::fromUtf8(c.text), -7), c.expected) << c.text;

    const ProfileFile p = ProfileFile::FromBytes("[A]\r\na= 0x10 \r\nb=\"3\"\r\nc=\r\n");
    EXPECT_EQ(p.ReadInteger("A", "a", -7), 16);
    EXPECT_EQ(p.ReadInteger("A", "b", -7), 3);
    EXPECT_EQ(p.ReadInteger("A", "c", -7), -7);
    EXPECT_EQ(p.ReadInteger("A", "missing", -7), -7);
}

TEST(ProfileFileCodePage, GbkUnlessABomOrTheBytesSayUtf8) {
    using E = ProfileFile::Encoding;
    struct Case {
        const char* what;
        QByteArray value;  // the bytes of k's value
        E encoding;
        const char* text;  // k as read, UTF-8
    };
    const Case cases[] = {
        {"GBK 路, also valid UTF-8 (·)", "\xC2\xB7", E::Gbk, "路"},
        {"GBK 路口, not UTF-8", "\xC2\xB7\xBF\xDA", E::Gbk, "路口"},
        {"GBK 测试, not UTF-8", kGbkTest, E::Gbk, "测试"},
        {"GBK 路 2 路, also valid UTF-8", "\xC2\xB7 2 \xC2\xB7", E::Gbk, "路 2 路"},
        {"plain ASCII", "abc", E::Gbk, "abc"},
        {"UTF-8 中文, no GBK", "\xE4\xB8\xAD\xE6\x96\x87", E::Utf8, "中文"},
        {"UTF-8 报警, no GBK", "\xE6\x8A\xA5\xE8\xAD\xA6", E::Utf8, "报警"},
        // Valid GBK too, but only through characters of GBK's extension areas.
        {"UTF-8 测试", "\xE6\xB5\x8B\xE8\xAF\x95", E::Utf8, "测试"},
        {"UTF-8 北京", "\xE5\x8C\x97\xE4\xBA\xAC", E::Utf8, "北京"},
        {"UTF-8 emoji", "\xF0\x9F\x98\x80", E::Utf8, "\xF0\x9F\x98\x80"},
        // Two bytes that are one common character either way: the GBK one wins.
        {"C3 A9: GBK 茅, UTF-8 é", "\xC3\xA9", E::Gbk, "茅"},
        // Neither: kept as GBK, so every byte survives a save.
        {"overlong UTF-8, no GBK", "\xC0\x80\xFF", E::Gbk, "纮\xEF\xBF\xBD"},
        {"UTF-8 cut short", "\xE6\xB5", E::Gbk, "娴"},
        {"é then GBK 测试", "\xC3\xA9" + kGbkTest, E::Gbk, "茅测试"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const QByteArray& eol : {QByteArray("\r\n"), QByteArray("\n")}) {
            const QByteArray file = "[A]" + eol + "k=" + c.value + eol;
            const ProfileFile p = ProfileFile::FromBytes(file);
            EXPECT_EQ(p.encoding(), c.encoding);
            EXPECT_EQ(p.ReadString("A", "k", {}), QString::fromUtf8(c.text));
            // Saved over with a new key: the file's own code page and line end, its old bytes.
            ProfileFile edited = p;
            edited.WriteString("A", "n", QStringLiteral("路"));
            const QByteArray added = c.encoding == E::Gbk ? "\xC2\xB7" : "\xE8\xB7\xAF";
            EXPECT_EQ(edited.ToBytes(), file + "n=" + added + eol);
        }
    }
}

TEST(ProfileFileCodePage, AUtf8ByteOrderMarkDecides) {
    // After a BOM even GBK-looking bytes are UTF-8; the BOM stays and hides no section.
    const QByteArray file = "\xEF\xBB\xBF[A]\r\nk=\xC2\xB7\r\n";
    ProfileFile p = ProfileFile::FromBytes(file);
    EXPECT_EQ(p.encoding(), ProfileFile::Encoding::Utf8);
    EXPECT_EQ(p.ReadString("a", "K", {}), QStringLiteral("·"));
    p.WriteString("A", "n", kTest);
    EXPECT_EQ(p.ToBytes(), file + "n=" + kTest.toUtf8() + "\r\n");
    // Pure ASCII is GBK, so what we add is GBK too.
    ProfileFile ascii = ProfileFile::FromBytes("[A]\r\nk=v\r\n");
    ascii.WriteString("A", "k", kTest);
    EXPECT_EQ(ascii.ToBytes(), "[A]\r\nk=" + kGbkTest + "\r\n");
}

TEST(ProfileFileCodePage, CharactersGbkLacksBecomeQuestionMarks) {
    ProfileFile p;
    p.WriteString("A", "k", QStringLiteral("a\U0001F600b测"));
    EXPECT_EQ(p.ToBytes(), "[A]\r\nk=a?b\xB2\xE2\r\n");
}

TEST(ProfileFileWrite, EditsKeepEveryOtherByte) {
    struct Case {
        const char* name;
        QByteArray before;
        const char* section;
        const char* key;
        QString value;
        QByteArray after;
    };
    const Case cases[] = {
        {"new file", "", "A", "k", "v", "[A]\r\nk=v\r\n"},
        {"replace in place keeps the stored spelling", "; c\r\n[a]\r\nKey = old \r\nz=1\r\n", "A",
         "key", "new", "; c\r\n[a]\r\nKey =new\r\nz=1\r\n"},
        {"equal value keeps the line", "[A]\r\nk =  v  \r\n", "A", "k", "v", "[A]\r\nk =  v  \r\n"},
        {"new key after the last entry, before comments and blanks",
         "[A]\r\nx=1\r\n; note\r\n\r\n[B]\r\ny=2\r\n", "a", "k", "v",
         "[A]\r\nx=1\r\nk=v\r\n; note\r\n\r\n[B]\r\ny=2\r\n"},
        {"new key in a section without entries", "[A]\r\n\r\n[B]\r\n", "A", "k", "v",
         "[A]\r\nk=v\r\n\r\n[B]\r\n"},
        {"new key at the end of the last section without a line end", "[A]\r\nx=1", "A", "k", "v",
         "[A]\r\nx=1\r\nk=v\r\n"},
        {"new section at the end", "[A]\r\nx=1\r\n\r\n", "B", "k", "v",
         "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n"},
        {"new section after an unterminated line", "; only", "B", "k", "v",
         "; only\r\n[B]\r\nk=v\r\n"},
        {"LF file gets LF lines", "[A]\nx=1\n", "A", "k", "v", "[A]\nx=1\nk=v\n"},
        {"line breaks in a value cannot forge entries", "[A]\r\n", "A", "k", "v\r\n[B]\nx=1",
         "[A]\r\nk=v[B]x=1\r\n"},
        {"BOM is kept", "\xEF\xBB\xBF[A]\r\nk=1\r\n", "A", "k", "2", "\xEF\xBB\xBF[A]\r\nk=2\r\n"},
        {"only the first of two equal sections", "[A]\r\nk=1\r\n[A]\r\nk=1\r\n", "A", "k", "2",
         "[A]\r\nk=2\r\n[A]\r\nk=1\r\n"},
    };
    for (const Case& c : cases) {
        ProfileFile p = ProfileFile::FromBytes(c.before);
        p.WriteString(c.section, c.key, c.value);
        EXPECT_EQ(p.ToBytes(), c.after) << c.name;
        EXPECT_EQ(p.ReadString(c.section, c.key, "<def>"),
                  QString(c.value).remove(u'\r').remove(u'\n'))
            << c.name;
    }
}

TEST(ProfileFileFuzz, RandomBytesRoundTripAndTakeWrites) {
    std::mt19937 rng(20261207);
    const char alphabet[] = "[]=;\"' \t\r\nABCabck0x";
    for (int iteration = 0; iteration < 1000; ++iteration) {
        const int size = static_cast<int>(rng() % 600);
        QByteArray bytes(size, '\0');
        for (char& b : bytes)
            b = (rng() % 2) ? alphabet[rng() % (sizeof alphabet - 1)] : static_cast<char>(rng());
        ProfileFile p = ProfileFile::FromBytes(bytes);
        // Parsing alone never changes a byte.
        ASSERT_EQ(p.ToBytes(), bytes) << "iteration " << iteration;
        (void)p.ReadString("A", "k", {});
        (void)p.ReadInteger("abc", "K", 0);
        p.WriteString("A", "k", QStringLiteral("v1"));
        p.WriteString("Zz", "q", kTest);
        ASSERT_EQ(p.ReadString("a", "K", {}), QStringLiteral("v1")) << "iteration " << iteration;
        ASSERT_EQ(p.ReadString("zz", "q", {}), kTest) << "iteration " << iteration;
        // What we wrote must survive a reload of the written bytes.
        const ProfileFile again = ProfileFile::FromBytes(p.ToBytes());
        ASSERT_EQ(again.ReadString("A", "k", {}), QStringLiteral("v1"))
            << "iteration " << iteration;
    }
}

TEST(ProfileFileDisk, LoadResults) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("a.ini");
    WriteAll(file, "[A]\r\nk=v\r\n");
    ProfileFile p;
    EXPECT_EQ(p.Load(file), ProfileFile::LoadResult::Loaded);
    EXPECT_EQ(p.ReadString("A", "k", {}), "v");
    EXPECT_EQ(p.Load(dir.filePath("none.ini")), ProfileFile::LoadResult::Missing);
    EXPECT_FALSE(p.HasKey("A", "k"));  // a failed load leaves nothing behind
    EXPECT_EQ(p.Load(dir.path()), ProfileFile::LoadResult::Unreadable);
    // A device would never end; it is no settings file.
    EXPECT_EQ(p.Load("/dev/zero"), ProfileFile::LoadResult::Unreadable);
}

TEST(ProfileFileDisk, SaveReplacesTheWholeFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("a.ini");
    WriteAll(file, QByteArray(10000, ';') + "\r\n[A]\r\nk=1\r\n");
    ProfileFile p;
    ASSERT_EQ(p.Load(file), ProfileFile::LoadResult::Loaded);
    p.WriteString("A", "k", "2");
    ASSERT_TRUE(p.SaveAs(file));
    EXPECT_EQ(ReadAll(file), QByteArray(10000, ';') + "\r\n[A]\r\nk=2\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.ini"});
}

}  // namespace
