// The status bar `stat1`: four fixed-width panels side by side along the window's bottom.
#pragma once

#include <QFrame>
#include <QRect>
#include <QString>
#include <array>

class QLabel;

namespace r4t8 {

class StatusPanels : public QFrame {
    Q_OBJECT

  public:
    static constexpr int kPanelCount = 4;
    static constexpr std::array<int, kPanelCount> kWidths{70, 50, 110, 50};

    explicit StatusPanels(QWidget* parent = nullptr);

    // Panel rectangle in the bar's own coordinates.
    QRect PanelRect(int panel) const;
    void SetText(int panel, const QString& text);
    QString Text(int panel) const;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    std::array<QLabel*, kPanelCount> m_panels{};
};

}  // namespace r4t8
