// What a user does and sees on the test's X server: real key and mouse events through the
// XTEST extension (xdotool), window titles as the window manager reads them (xprop), message
// boxes answered with a real click, and screenshots of the whole screen.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

namespace r4t8::testing {

// Runs an X client of the test's display; its standard output, or nothing when it failed.
inline std::optional<QString> RunX(const QString& program, const QStringList& args,
                                   int timeoutMs = 10000) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit ||
        p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " " << args.join(' ').toStdString()
                      << " failed: " << p.readAllStandardError().toStdString();
        return std::nullopt;
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Lets Qt take in what the X server has delivered.
inline void Settle(int ms = 40) { QTest::qWait(ms); }

// A property of an X window as the window manager reads it, decoded from xprop's output.
inline QString WindowProperty(WId window, const char* property) {
    const auto out =
        RunX(QStringLiteral("xprop"),
             {QStringLiteral("-notype"), QStringLiteral("-id"),
              QStringLiteral("0x") + QString::number(window, 16), QString::fromLatin1(property)});
    if (!out) return {};
    static const QRegularExpression quoted(QStringLiteral("= \"(.*)\"\\s*$"));
    const auto m = quoted.match(*out);
    return m.hasMatch() ? m.captured(1) : QString();
}
// The title a window manager shows.
inline QString ShownTitle(QWidget* w) {
    return WindowProperty(w->window()->winId(), "_NET_WM_NAME");
}

// The text on a button as the user reads it: the mnemonic marker and its "(&Y)" removed.
inline QString ReadableText(const QString& text) {
    QString t = text;
    static const QRegularExpression mnemonic(QStringLiteral("\\(&.\\)"));
    t.remove(mnemonic);
    t.remove(u'&');
    return t;
}

// Real input: xdotool sends through XTEST, so events come from the X server as a user's do.
class Robot {
  public:
    void Click(QWidget* w) { Click(w, w->rect().center()); }
    // One xdotool run: the move reaches the server before the click. (--sync would wait for
    // ever when the pointer is there already.)
    void Click(QWidget* w, QPoint local) {
        const QPoint p = w->mapToGlobal(local);
        RunX(QStringLiteral("xdotool"),
             {QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y()),
              QStringLiteral("click"), QStringLiteral("1")});
        Settle();
    }
    // Key names as X knows them: "Tab", "shift+Tab", "Return", "BackSpace", "ctrl+a".
    void Key(const QString& keys) {
        RunX(QStringLiteral("xdotool"),
             {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), keys});
        Settle();
    }
    void Type(const QString& text) {
        RunX(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"),
                                         QStringLiteral("15"), QStringLiteral("--"), text});
        Settle();
    }
    // Gives the X input focus to a top-level window, as a window manager does on a click.
    void Focus(QWidget* w) {
        QWidget* top = w->window();
        RunX(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                                         QString::number(top->winId())});
        Settle();
    }
};

// The whole screen as the X server holds it, message boxes and dialogs included.
inline QString Screenshot(const QString& name) {
    // Pending paints first: a grab shows the X server's pixels, not Qt's intentions.
    Settle(250);
    const QString dir = QStringLiteral(R4T8_TEST_OUTPUT);
    QDir().mkpath(dir);
    const QString path = dir + u'/' + name + QStringLiteral(".png");
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(path))
        ADD_FAILURE() << "no screenshot " << name.toStdString();
    return path;
}

// A message box as the user met it.
struct SeenBox {
    QString text;
    QString caption;      // windowTitle()
    QString shownTitle;   // _NET_WM_NAME, what the window manager shows
    QStringList buttons;  // readable texts, in the box's order
};

// Watches for message boxes and answers each with a real click on the button whose readable
// text `choose` returns (empty: the box's default button). Runs inside the box's own event loop.
class BoxAnswerer : public QObject {
  public:
    using Chooser = std::function<QString(const SeenBox&)>;
    explicit BoxAnswerer(Robot& robot, Chooser choose = {})
        : m_robot(robot), m_choose(std::move(choose)) {
        m_timer.setInterval(60);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
        m_timer.start();
    }
    void SetChooser(Chooser choose) { m_choose = std::move(choose); }
    // Screenshots of each box are taken under this prefix when set.
    void SetScreenshotPrefix(const QString& prefix) { m_prefix = prefix; }
    const std::vector<SeenBox>& Seen() const { return m_seen; }
    QStringList Texts() const {
        QStringList t;
        for (const SeenBox& b : m_seen) t << b.text;
        return t;
    }

  private:
    void Poll() {
        if (m_busy) return;
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box == m_last) return;
        m_busy = true;
        (void)QTest::qWaitForWindowExposed(box);
        SeenBox seen{box->text(), box->windowTitle(), ShownTitle(box), {}};
        QAbstractButton* target = box->defaultButton();
        const QString wanted = m_choose ? m_choose(seen) : QString();
        for (QAbstractButton* b : box->buttons()) {
            seen.buttons << ReadableText(b->text());
            const auto role = box->buttonRole(b);
            if (!target && (role == QMessageBox::AcceptRole || role == QMessageBox::YesRole))
                target = b;
            if (!wanted.isEmpty() && ReadableText(b->text()) == wanted) target = b;
        }
        if (!m_prefix.isEmpty())
            Screenshot(m_prefix + QStringLiteral("-box-") + QString::number(m_seen.size() + 1));
        m_seen.push_back(seen);
        m_last = box;
        if (target) m_robot.Click(target);
        m_busy = false;
    }

    Robot& m_robot;
    Chooser m_choose;
    QString m_prefix;
    QTimer m_timer;
    std::vector<SeenBox> m_seen;
    QPointer<QMessageBox> m_last;
    bool m_busy = false;
};

}  // namespace r4t8::testing
