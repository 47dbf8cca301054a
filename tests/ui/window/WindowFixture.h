// A window shown offscreen with a scripted message presenter and a fake port.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QTest>
#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "config/DeviceSettings.h"
#include "protocol/Port.h"
#include "ui/window/MessagePresenter.h"
#include "ui/window/SerialLink.h"
#include "ui/window/umset.h"

// Readable failure output for texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace r4t8::testing {

// A port that keeps every byte written to it, in one piece.
class RecordingPort : public IPort {
  public:
    bool WriteBytes(const uint8_t* data, size_t count) override {
        written.insert(written.end(), data, data + count);
        return count > 0;
    }
    std::vector<uint8_t> written;
};

class FakePresenter : public IMessagePresenter {
  public:
    struct Shown {
        QString text;
        QString caption;
        MsgButtons buttons;
    };
    MsgAnswer Present(const QString& text, const QString& caption, MsgButtons buttons) override {
        shown.push_back({text, caption, buttons});
        if (whileOpen) whileOpen(text);
        if (!answers.empty()) {
            const MsgAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        if (buttons == MsgButtons::YesNoDefaultNo) return MsgAnswer::No;  // the box's default
        return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    }
    QStringList Texts() const {
        QStringList out;
        for (const Shown& s : shown) out << s.text;
        return out;
    }
    std::vector<Shown> shown;
    std::deque<MsgAnswer> answers;
    std::function<void(const QString&)> whileOpen;
};

class FakeLink : public ISerialLink {
  public:
    bool Open(const QString& name, QString& reason) override {
        opened.push_back(name);
        if (!openSucceeds) {
            reason = failReason;
            return false;
        }
        m_open = true;
        return true;
    }
    void Close() override {
        ++closes;
        m_open = false;
    }
    bool IsOpen() const override { return m_open; }

    bool openSucceeds = true;
    QString failReason;
    QStringList opened;
    int closes = 0;

  private:
    bool m_open = false;
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<Tfrm_mset>(settings, presenter);
        settings.SetUserInterface(&window->UserInterface());
        window->SetSerialLink(&link);
        window->FormCreate({{"/dev/ttyUSB0", "USB serial"}, {"/dev/ttyS0", "on-board"}},
                           QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)));
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        settings.SetUserInterface(nullptr);
        window.reset();
    }

    template <typename T = QWidget>
    T* Find(const QString& name) const {
        T* w = window->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << "no control " << name.toStdString();
        return w;
    }
    // Shows the page holding `w`, so that mouse and key events reach it.
    void Reveal(QWidget* w) {
        for (QWidget* p = w; p; p = p->parentWidget()) {
            const int i = window->Pages()->indexOf(p);
            if (i >= 0) window->Pages()->setCurrentIndex(i);
        }
        QApplication::processEvents();
    }
    void Click(QWidget* w) {
        Reveal(w);
        QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
    }
    // Opens the drop-down with the mouse and clicks the item.
    void Pick(const QString& comboName, int index) {
        auto* combo = Find<QComboBox>(comboName);
        Reveal(combo);
        combo->showPopup();
        QAbstractItemView* view = combo->view();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window()));
        const QRect r = view->visualRect(view->model()->index(index, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
        QApplication::processEvents();
    }
    void Type(const QString& editName, const QString& keys, bool clearFirst = true) {
        auto* edit = Find<QLineEdit>(editName);
        Reveal(edit);
        edit->setFocus();
        if (clearFirst) {
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_Backspace);
        }
        edit->end(false);
        for (QChar c : keys) {
            if (c.unicode() < 0x80)
                QTest::keyClick(edit, c.toLatin1());
            else
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c),
                                    Qt::NoModifier);
        }
    }

    DeviceSettings settings;
    FakePresenter presenter;
    FakeLink link;
    std::unique_ptr<Tfrm_mset> window;
};

}  // namespace r4t8::testing
