// The file dialogs of the settings file buttons; tests answer them without a dialog.
#pragma once

#include <QString>

class QWidget;

namespace r4t8 {

class IFileChooser {
  public:
    virtual ~IFileChooser() = default;
    // Empty when the user cancelled.
    virtual QString SaveFileName(const QString& folder, const QString& proposedName) = 0;
    virtual QString OpenFileName(const QString& folder) = 0;
};

// QFileDialog: the settings filters, default suffix "ini", no overwrite question, and a file
// to open need not exist.
class DialogFileChooser : public IFileChooser {
  public:
    explicit DialogFileChooser(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }
    QString SaveFileName(const QString& folder, const QString& proposedName) override;
    QString OpenFileName(const QString& folder) override;

  private:
    QWidget* m_parent;
};

}  // namespace r4t8
