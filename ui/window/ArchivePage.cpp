#include "ui/window/ArchivePage.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>

#include "protocol/Captions.h"
#include "safety/SettingsDiff.h"
#include "session/DeviceSession.h"
#include "ui/file/SettingsFile.h"

namespace r4t8 {

namespace {

const QString kConfirmKey = QStringLiteral("archive/confirmChanges");

std::unique_ptr<QSettings> Preferences(const QString& file) {
    if (file.isEmpty()) return std::make_unique<QSettings>();
    return std::make_unique<QSettings>(file, QSettings::IniFormat);
}

}  // namespace

ArchivePage::ArchivePage(DeviceSettings& settings, Reporting ui, const QString& archiveRoot,
                         const QString& preferencesFile, QWidget* parent)
    : QWidget(parent),
      m_settings(settings),
      m_ui(ui),
      m_archive(archiveRoot.isEmpty() ? ConfigArchive::DefaultRoot() : archiveRoot),
      m_preferencesFile(preferencesFile) {
    m_table = new QTableWidget(0, 3, this);
    m_table->setObjectName(QStringLiteral("grd_backups"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("时间"), QStringLiteral("设备号"), QStringLiteral("型号")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(0, 160);
    m_table->setColumnWidth(1, 160);

    auto button = [this](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    QPushButton* refresh = button("btn_archive_refresh", QStringLiteral("刷新"));
    QPushButton* load = button("btn_archive_load", QStringLiteral("载入窗口"));
    m_restore = button("btn_archive_restore", QStringLiteral("恢复到控制器"));
    QPushButton* compare = button("btn_archive_compare", QStringLiteral("与窗口比较"));
    m_confirm = new QCheckBox(QStringLiteral("写入前显示将改变的设置并确认"), this);
    m_confirm->setObjectName(QStringLiteral("chk_confirm_changes"));
    m_confirm->setChecked(Preferences(m_preferencesFile)->value(kConfirmKey, false).toBool());

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {refresh, load, m_restore, compare}) buttons->addWidget(b);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    layout->addWidget(m_confirm);

    connect(refresh, &QPushButton::clicked, this, &ArchivePage::Refresh);
    connect(load, &QPushButton::clicked, this, &ArchivePage::LoadSelected);
    connect(m_restore, &QPushButton::clicked, this, &ArchivePage::RestoreSelected);
    connect(compare, &QPushButton::clicked, this, &ArchivePage::CompareSelected);
    connect(m_confirm, &QCheckBox::toggled, this, &ArchivePage::SetPreference);
    Refresh();
}

ArchivePage::~ArchivePage() = default;

void ArchivePage::Attach(DeviceSession* session, ITimeSource* time) {
    m_safe.reset();
    if (!session || !time) return;
    m_safe = std::make_unique<SafeWrite>(*session, m_archive, *time, m_ui);
    // A new backup shows up in the list at once.
    m_safe->SetOnFinished([this](const SafeWriteReport& report) {
        if (report.backup) Refresh();
        if (report.backupOffered && report.backup && SelectBackup(report.backup->BinPath()))
            Q_EMIT backupToRestore();
    });
    ApplyOptions();
}

bool ArchivePage::ConfirmBeforeWrite() const { return m_confirm->isChecked(); }

void ArchivePage::SetPreference(bool on) {
    Preferences(m_preferencesFile)->setValue(kConfirmKey, on);
    ApplyOptions();
}

void ArchivePage::ApplyOptions() {
    if (!m_safe) return;
    SafeWriteOptions options = m_safe->Options();
    options.confirmChanges = ConfirmBeforeWrite();
    // An installer at the window can judge a failed backup; a script cannot.
    options.askWithoutBackup = true;
    m_safe->SetOptions(options);
}

void ArchivePage::Refresh() {
    m_entries = m_archive.List();
    m_table->setRowCount(static_cast<int>(m_entries.size()));
    for (int row = 0; row < static_cast<int>(m_entries.size()); ++row) {
        const BackupEntry& e = m_entries[static_cast<size_t>(row)];
        const QString texts[3] = {e.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                  e.deviceNumber, e.model};
        for (int col = 0; col < 3; ++col)
            m_table->setItem(row, col, new QTableWidgetItem(texts[col]));
    }
}

void ArchivePage::SelectRow(int row) {
    if (row < 0) {
        m_table->clearSelection();
        return;
    }
    m_table->selectRow(row);
}

bool ArchivePage::SelectBackup(const QString& binPath) {
    for (size_t row = 0; row < m_entries.size(); ++row) {
        if (m_entries[row].BinPath() != binPath) continue;
        SelectRow(static_cast<int>(row));
        return true;
    }
    return false;
}

const BackupEntry* ArchivePage::Selected() {
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    const int row = rows.isEmpty() ? -1 : rows.front().row();
    if (row < 0 || row >= static_cast<int>(m_entries.size())) {
        m_ui.messages.ShowMessage(QStringLiteral("请先选择一个备份"), kAppTitle, MsgButtons::Ok);
        return nullptr;
    }
    return &m_entries[static_cast<size_t>(row)];
}

std::optional<RawBlocks> ArchivePage::SelectedBlocks() {
    const BackupEntry* entry = Selected();
    if (!entry) return std::nullopt;
    QString error;
    auto blocks = ConfigArchive::LoadBlocks(entry->BinPath(), error);
    if (!blocks) m_ui.messages.ShowMessage(error, kAppTitle, MsgButtons::Ok);
    return blocks;
}

void ArchivePage::LoadSelected() {
    if (const BackupEntry* entry = Selected())
        SettingsFile::Load(entry->IniPath(), m_settings, m_ui.messages);
}

void ArchivePage::RestoreSelected() {
    const auto blocks = SelectedBlocks();
    if (!blocks) return;
    if (!m_safe) {
        m_ui.messages.ShowMessage(QStringLiteral("请先连接控制器"), kAppTitle, MsgButtons::Ok);
        return;
    }
    if (m_ui.messages.ShowMessage(QStringLiteral("是否将此备份恢复到控制器？"), kQuestionCaption,
                                  MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    m_safe->WriteBlocks(*blocks);
}

void ArchivePage::CompareSelected() {
    const auto blocks = SelectedBlocks();
    if (!blocks) return;
    const WriteDiff diff = DiffWrite(*blocks, m_settings);
    if (diff.problem) {
        m_ui.messages.ShowMessage(diff.problem->label + QStringLiteral(" 的值无法写入"), kAppTitle,
                                  MsgButtons::Ok);
        return;
    }
    m_ui.messages.ShowMessage(diff.changes.empty()
                                  ? QStringLiteral("窗口中的设置与此备份相同")
                                  : QStringLiteral("窗口与备份不同的设置（备份 → 窗口）：\n") +
                                        FormatChanges(diff.changes),
                              kAppTitle, MsgButtons::Ok);
}

}  // namespace r4t8
