#include "ui/window/MessagePresenter.h"

#include <QMessageBox>

namespace r4t8 {

MsgAnswer MessageBoxPresenter::Present(const QString& text, const QString& caption,
                                       MsgButtons buttons) {
    QMessageBox box(m_parent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (buttons) {
        case MsgButtons::Ok:
            box.setIcon(QMessageBox::Information);
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MsgButtons::YesNo:
            box.setIcon(QMessageBox::Question);
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case MsgButtons::YesNoDefaultNo:
            box.setIcon(QMessageBox::Question);
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::No);
            box.setEscapeButton(QMessageBox::No);
            break;
        case MsgButtons::OkCancel:
            box.setIcon(QMessageBox::Question);
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Ok:
            return MsgAnswer::Ok;
        case QMessageBox::Yes:
            return MsgAnswer::Yes;
        case QMessageBox::No:
            return MsgAnswer::No;
        case QMessageBox::Cancel:
            return MsgAnswer::Cancel;
        default:
            break;
    }
    // Closing a question box with the window's close button is no consent.
    if (buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoDefaultNo) return MsgAnswer::No;
    if (buttons == MsgButtons::OkCancel) return MsgAnswer::Cancel;
    return MsgAnswer::Ok;
}

}  // namespace r4t8
