// Per-edit input rules: the key filter that sees each typed character, and the maximum
// length that limits typing and pasting but never text the program sets.
#pragma once

#include <QObject>
#include <QString>
#include <QValidator>
#include <functional>
#include <optional>

class QKeyEvent;
class QLineEdit;

namespace r4t8 {

// The character a key press types, as a classic edit would receive it: Ctrl+letter gives
// its control character (Ctrl+V is 0x16); keys that type nothing (cursor keys, Delete,
// Home, End) and the focus keys Tab and Shift+Tab give none.
std::optional<QChar> TypedCharacter(const QKeyEvent& event);

// Decides whether `ch` may be typed into an edit whose text is `text`.
using KeyAcceptor = std::function<bool(QChar ch, const QString& text)>;

// Swallows each key press whose character the acceptor refuses.
class EditKeyFilter : public QObject {
    Q_OBJECT

  public:
    EditKeyFilter(QLineEdit* edit, KeyAcceptor accept);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    KeyAcceptor m_accept;
};

// Maximum length for what the user types, pastes or drops. Unlike QLineEdit::setMaxLength
// it leaves longer text set by the program whole: a pasted block is cut to the room left.
class LengthLimiter : public QValidator {
    Q_OBJECT

  public:
    LengthLimiter(QLineEdit* edit, int maxLength);

    int MaxLength() const { return m_max; }
    State validate(QString& input, int& pos) const override;

    // While suspended every text passes; the window sets program text this way.
    void SetSuspended(bool suspended) { m_suspended = suspended; }

  private:
    int m_max;
    bool m_suspended = false;
    QString m_before;  // the text before the change being validated
};

// Attaches the two rules; a maxLength of 0 means none, an empty acceptor no filter.
void InstallInputRules(QLineEdit* edit, int maxLength, KeyAcceptor accept);

// Sets program text into an edit: neither filtered nor cut to its maximum length.
void SetProgramText(QLineEdit* edit, const QString& text);

}  // namespace r4t8
