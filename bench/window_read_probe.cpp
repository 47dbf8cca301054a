// The window program as r4t8-config builds it, driven from inside for the figures that need
// the whole program:
//   bench_window_read --startup     prints "shown <monotonic ns>" once the window was shown
//   bench_window_read --read PTY    opens PTY, logs in, reads the four blocks, prints
//                                   "read done" (the parent reads the peak memory)
// Every message box is answered at once, so no one has to click.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <ctime>

#include "ui/window/MessagePresenter.h"
#include "ui/window/WindowProgram.h"

namespace {

using namespace r4t8;

class AnsweringPresenter : public IMessagePresenter {
  public:
    MsgAnswer Present(const QString& text, const QString&, MsgButtons buttons) override {
        // After the handler that asked has returned, as a click on OK would be.
        QTimer::singleShot(0, qApp, [this, text] {
            if (onMessage) onMessage(text);
        });
        return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
    std::function<void(const QString&)> onMessage;
};

void Click(QWidget& window, const char* name, const std::function<void()>& fallback) {
    if (auto* b = window.findChild<QPushButton*>(QString::fromLatin1(name)); b && b->isEnabled())
        b->click();
    else
        fallback();
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QString title = kAppTitle;
    QApplication::setApplicationName(title);
    QApplication::setApplicationDisplayName(title);
    const QStringList args = QApplication::arguments();
    const bool read = args.size() >= 3 && args.at(1) == QLatin1String("--read");

    AnsweringPresenter presenter;
    WindowProgram program(&presenter);
    program.Create(read ? args.at(2) : QString());
    program.Window().show();

    if (!read) {
        QTimer::singleShot(0, &app, [] {
            timespec ts{};
            clock_gettime(CLOCK_MONOTONIC, &ts);
            std::printf("shown %lld\n",
                        static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
            std::fflush(stdout);
            QApplication::exit(0);
        });
        return QApplication::exec();
    }

    Tfrm_mset& window = program.Window();
    presenter.onMessage = [&](const QString& text) {
        if (text == QStringLiteral("密码正确")) {
            Click(window, "btn_load", [&] { program.Session().Config().btn_loadClick(); });
        } else if (text == QStringLiteral("读取结束")) {
            std::printf("read done\n");
            std::fflush(stdout);
            QApplication::exit(0);
        } else {
            std::fprintf(stderr, "unexpected message: %s\n", text.toUtf8().constData());
            QApplication::exit(1);
        }
    };
    QTimer::singleShot(0, &app, [&] {
        window.btn8Click();
        if (!program.Link().IsOpen()) {
            std::fprintf(stderr, "the port did not open\n");
            QApplication::exit(1);
            return;
        }
        if (auto* pwd = window.findChild<QLineEdit*>(QStringLiteral("edt_setpwd")))
            pwd->setText(QStringLiteral("5807"));
        Click(window, "btn7", [&] { program.Session().btn7Click(QStringLiteral("5807")); });
    });
    // A read that hangs must not hang the benchmark.
    QTimer::singleShot(20000, &app, [] { QApplication::exit(2); });
    return QApplication::exec();
}
