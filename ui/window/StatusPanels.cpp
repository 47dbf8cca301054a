#include "ui/window/StatusPanels.h"

#include <QLabel>
#include <QResizeEvent>

namespace r4t8 {

StatusPanels::StatusPanels(QWidget* parent) : QFrame(parent) {
    int x = 0;
    for (int i = 0; i < kPanelCount; ++i) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("stat1_panel%1").arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setAlignment(i == 3 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
        panel->setGeometry(x, 2, kWidths[i], 0);
        x += kWidths[i] + 2;
        m_panels[i] = panel;
    }
}

void StatusPanels::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    for (QLabel* panel : m_panels) {
        QRect r = panel->geometry();
        r.setHeight(height() - 4);
        panel->setGeometry(r);
    }
}

QRect StatusPanels::PanelRect(int panel) const {
    if (panel < 0 || panel >= kPanelCount) return {};
    const QRect r = m_panels[panel]->geometry();
    return {r.x(), r.y(), r.width(), height() - 4};
}

void StatusPanels::SetText(int panel, const QString& text) {
    if (panel < 0 || panel >= kPanelCount) return;
    m_panels[panel]->setText(text);
    // A long reason (why a port would not open) is cut by the panel; the tip shows it whole.
    m_panels[panel]->setToolTip(text);
}

QString StatusPanels::Text(int panel) const {
    if (panel < 0 || panel >= kPanelCount) return {};
    return m_panels[panel]->text();
}

}  // namespace r4t8
