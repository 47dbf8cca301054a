#include "ui/window/EditInputRules.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>

namespace r4t8 {

std::optional<QChar> TypedCharacter(const QKeyEvent& event) {
    // X11 reports Delete as the character 0x7F; a classic edit sees no character for it.
    if (event.key() == Qt::Key_Delete) return std::nullopt;
    // Tab and Shift+Tab move the focus; they are never typed into an edit.
    if (event.key() == Qt::Key_Tab || event.key() == Qt::Key_Backtab) return std::nullopt;
    const Qt::KeyboardModifiers mods = event.modifiers();
    if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier) && event.key() >= Qt::Key_A &&
        event.key() <= Qt::Key_Z)
        return QChar(static_cast<char16_t>(event.key() - Qt::Key_A + 1));
    const QString text = event.text();
    if (text.isEmpty()) return std::nullopt;
    return text.front();
}

EditKeyFilter::EditKeyFilter(QLineEdit* edit, KeyAcceptor accept)
    : QObject(edit), m_accept(std::move(accept)) {
    edit->installEventFilter(this);
    // An input method would commit text past the key events and so past the filter.
    edit->setAttribute(Qt::WA_InputMethodEnabled, false);
}

bool EditKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    auto* edit = qobject_cast<QLineEdit*>(watched);
    if (!edit) return false;
    const auto ch = TypedCharacter(*static_cast<QKeyEvent*>(event));
    // Refused characters are swallowed silently, copy/cut/paste shortcuts included.
    return ch && !m_accept(*ch, edit->text());
}

LengthLimiter::LengthLimiter(QLineEdit* edit, int maxLength)
    : QValidator(edit), m_max(maxLength), m_before(edit->text()) {
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& t) { m_before = t; });
}

QValidator::State LengthLimiter::validate(QString& input, int& pos) const {
    if (m_suspended || input.size() <= m_max) return Acceptable;
    // Find what this change inserted: the text between the common prefix and suffix.
    const qsizetype common = std::min(m_before.size(), input.size());
    qsizetype prefix = 0;
    while (prefix < common && m_before[prefix] == input[prefix]) ++prefix;
    qsizetype suffix = 0;
    while (suffix < common - prefix &&
           m_before[m_before.size() - 1 - suffix] == input[input.size() - 1 - suffix])
        ++suffix;
    const qsizetype inserted = input.size() - prefix - suffix;
    const qsizetype kept = prefix + suffix;
    qsizetype room = std::max<qsizetype>(0, m_max - kept);
    if (inserted <= room) return Acceptable;
    if (room > 0 && input[prefix + room - 1].isHighSurrogate()) --room;
    if (room == 0) return Invalid;
    input = input.left(prefix + room) + input.right(suffix);
    pos = static_cast<int>(prefix + room);
    return Acceptable;
}

void InstallInputRules(QLineEdit* edit, int maxLength, KeyAcceptor accept) {
    if (accept) new EditKeyFilter(edit, std::move(accept));
    if (maxLength > 0) edit->setValidator(new LengthLimiter(edit, maxLength));
}

void SetProgramText(QLineEdit* edit, const QString& text) {
    if (edit->text() == text) return;
    auto* limiter = qobject_cast<LengthLimiter*>(const_cast<QValidator*>(edit->validator()));
    if (limiter) limiter->SetSuspended(true);
    edit->setText(text);
    if (limiter) limiter->SetSuspended(false);
}

}  // namespace r4t8
