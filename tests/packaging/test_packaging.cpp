// The programs as the package presents them to a user's system: version and help without a
// display (help2man runs them while building), the icon in every size drawn, and the files
// cmake --install lays out for the desktop, under the names the window program gives Qt.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "packaging/identity/ProgramIdentity.h"
#include "packaging/identity/WindowIcon.h"

namespace r4t8::testing {
namespace {

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Finished RunProgram(const QString& program, const QStringList& args,
                    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    Finished result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QList<int> IconSizes() {
    QList<int> sizes;
    for (const QString& s : QStringLiteral(R4T8_ICON_SIZES).split(u',')) sizes << s.toInt();
    return sizes;
}

TEST(Programs, AnswerVersionAndHelpWithoutADisplay) {
    // No display at all, and the X11 platform forced: a program that made its application
    // object before answering would abort here, and help2man with it.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    struct Case {
        const char* name;
        const char* path;
        const char* helpMentions;
    };
    const Case cases[] = {
        {"r4t8-config", R4T8_CONFIG_PATH, "--port NAME"},
        {"r4t8ctl", R4T8_CTL_PATH, "factory-reset --yes"},
        {"r4t8-sim", R4T8_SIM_PATH, "--generate-history"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Finished version =
            RunProgram(QString::fromUtf8(c.path), {QStringLiteral("--version")}, env);
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out, QByteArray(c.name) + " " R4T8_PROJECT_VERSION "\n");
        EXPECT_EQ(version.err, QByteArray());

        const Finished help =
            RunProgram(QString::fromUtf8(c.path), {QStringLiteral("--help")}, env);
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(help.out.contains(c.helpMentions)) << help.out.toStdString();
        EXPECT_TRUE(help.out.contains("--version")) << help.out.toStdString();
    }
}

TEST(WindowIcon, HoldsEverySizeDrawnAtItsOwnSize) {
    const QIcon icon = WindowIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> available = icon.availableSizes();
    for (int size : IconSizes()) {
        SCOPED_TRACE(size);
        // The size read from the image itself: a PNG rendered at another size fails here.
        EXPECT_TRUE(available.contains(QSize(size, size)));
    }
    EXPECT_EQ(available.size(), IconSizes().size());
}

// The section's key=value lines of a desktop entry.
QMap<QString, QString> DesktopEntry(const QString& path) {
    QMap<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return keys;
    bool inEntry = false;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (line.startsWith(u'[')) inEntry = line == QLatin1String("[Desktop Entry]");
        const qsizetype eq = line.indexOf(u'=');
        if (inEntry && eq > 0) keys.insert(line.left(eq), line.mid(eq + 1));
    }
    return keys;
}

QByteArray Gunzip(const QString& path) {
    return RunProgram(QStringLiteral("gzip"), {"-dc", path}).out;
}

TEST(Install, LaysOutWhatTheDesktopLooksForUnderTheProgramsNames) {
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const Finished install = RunProgram(QStringLiteral(R4T8_CMAKE),
                                        {"--install", R4T8_BINARY_DIR, "--prefix", prefix.path()});
    ASSERT_EQ(install.exitCode, 0) << install.out.toStdString() << install.err.toStdString();
    const QDir root(prefix.path());
    const QString id = DesktopId();
    ASSERT_FALSE(id.contains(u'/'));

    for (const char* program : {"r4t8-config", "r4t8ctl", "r4t8-sim"})
        EXPECT_TRUE(QFileInfo(root.filePath(QStringLiteral("bin/") + program)).isExecutable())
            << program;

    const QString entryPath = root.filePath("share/applications/" + id + ".desktop");
    const QMap<QString, QString> entry = DesktopEntry(entryPath);
    ASSERT_FALSE(entry.isEmpty()) << entryPath.toStdString();
    EXPECT_EQ(entry.value("Name"), QStringLiteral("R4T8报警器设置软件"));
    EXPECT_FALSE(entry.value("GenericName").isEmpty());
    EXPECT_TRUE(QFileInfo(root.filePath("bin/" + entry.value("Exec"))).isExecutable())
        << entry.value("Exec").toStdString();
    EXPECT_EQ(entry.value("Icon"), id);
    // The X class the window program's application name gives its windows.
    EXPECT_EQ(entry.value("StartupWMClass"), QStringLiteral("r4t8-config"));
    const QStringList categories = entry.value("Categories").split(u';', Qt::SkipEmptyParts);
    EXPECT_TRUE(categories.contains("Settings") && categories.contains("HardwareSettings"));

    QFile metainfo(root.filePath("share/metainfo/" + id + ".metainfo.xml"));
    ASSERT_TRUE(metainfo.open(QIODevice::ReadOnly));
    const QString xml = QString::fromUtf8(metainfo.readAll());
    EXPECT_TRUE(xml.contains("<id>" + id + "</id>"));
    EXPECT_TRUE(xml.contains("<launchable type=\"desktop-id\">" + id + ".desktop</launchable>"));
    EXPECT_TRUE(xml.contains("<release version=\"" R4T8_PROJECT_VERSION "\""));

    for (int size : IconSizes()) {
        const QString n = QString::number(size);
        const QImage png(
            root.filePath("share/icons/hicolor/" + n + 'x' + n + "/apps/" + id + ".png"));
        EXPECT_EQ(png.size(), QSize(size, size)) << size;
    }
    EXPECT_TRUE(root.exists("share/icons/hicolor/scalable/apps/" + id + ".svg"));

    // Debian reads the package's version from the changelog's first line.
    EXPECT_TRUE(Gunzip(root.filePath("share/doc/r4t8config/changelog.gz"))
                    .startsWith("r4t8config (" R4T8_PROJECT_VERSION ") "));
    EXPECT_TRUE(root.exists("share/doc/r4t8config/copyright"));

    for (const char* program : {"r4t8-config", "r4t8ctl", "r4t8-sim"}) {
        SCOPED_TRACE(program);
        const QString page = root.filePath(QStringLiteral("share/man/man1/") + program + ".1.gz");
        if (!R4T8_MANPAGES) {
            EXPECT_FALSE(QFile::exists(page));
            continue;
        }
        const QByteArray text = Gunzip(page);
        EXPECT_TRUE(text.contains(".SH NAME\n" + QByteArray(program) + " \\-"))
            << text.left(400).toStdString();
        EXPECT_TRUE(text.contains("\"r4t8config " R4T8_PROJECT_VERSION "\""));
        // help2man found the usage lines ("Usage: PROGRAM ...") and the added sections.
        EXPECT_TRUE(text.contains(".SH SYNOPSIS\n.B " + QByteArray(program) + '\n'));
        EXPECT_TRUE(text.contains(".SH \"SEE ALSO\""));
    }
}

}  // namespace
}  // namespace r4t8::testing

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
