// How the window asks the user: a modal box in the program, a scripted answer in tests.
#pragma once

#include <QString>

#include "protocol/UserInterfaces.h"

class QWidget;

namespace r4t8 {

class IMessagePresenter {
  public:
    virtual ~IMessagePresenter() = default;
    // Returns once the user has answered.
    virtual MsgAnswer Present(const QString& text, const QString& caption, MsgButtons buttons) = 0;
};

// The real presenter: a QMessageBox, modal to `parent`.
class MessageBoxPresenter : public IMessagePresenter {
  public:
    explicit MessageBoxPresenter(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }
    MsgAnswer Present(const QString& text, const QString& caption, MsgButtons buttons) override;

  private:
    QWidget* m_parent;
};

}  // namespace r4t8
