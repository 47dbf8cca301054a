#include "ui/file/SettingsFile.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include "protocol/Captions.h"
#include "protocol/UserInterfaces.h"
#include "ui/file/ProfileFile.h"

namespace r4t8 {

namespace {

using E = ValueEncoding;

std::vector<SettingsEntry> BuildLayout() {
    std::vector<SettingsEntry> v;
    auto add = [&v](const QString& section, const QString& key, const QString& control,
                    ValueEncoding encoding) {
        v.push_back({section, key, control, encoding});
    };

    add("COM", "setPwd", "edt_setpwd", E::Text);
    for (int n = 1; n <= 6; ++n)
        add("TEL", QStringLiteral("tel%1").arg(n), QStringLiteral("edt_tel%1").arg(n), E::Text);
    for (int n = 1; n <= 6; ++n) {
        add("TEL", QStringLiteral("tel%1_fun1").arg(n), QStringLiteral("cbb_tel%1_f1").arg(n),
            E::Index);
        add("TEL", QStringLiteral("tel%1_fun2").arg(n), QStringLiteral("cbb_tel%1_f2").arg(n),
            E::Index);
    }
    add("GPRS", "ip1", "edt_ip1", E::Text);
    add("GPRS", "ip2", "edt_ip2", E::Text);
    add("GPRS", "port", "edt_port", E::Text);
    add("GPRS", "mode", "cbb_mode", E::Index);
    add("GPRS", "apn", "edt_apn", E::Text);
    add("GPRS", "gprsname", "edt_gprsname", E::Text);
    add("GPRS", "gprspwd", "edt_gprspassword", E::Text);
    add("OTHER", "timemode", "cbb_timemode", E::Index);
    add("OTHER", "mytel", "edt_tel_my", E::Text);
    add("OTHER", "pwd", "edt_pwd", E::Text);
    add("OTHER", "devid", "edt_id", E::Text);
    add("OTHER", "rectime", "edt_rec_time", E::Text);
    add("OTHER", "GPRSenable", "CheckBox1", E::Flag);
    add("GPRSalarmtel", "failurereport", "edt_GprsFailTel", E::Text);
    add("other", "uploadtel", "edit9", E::Text);
    add("OTHER", "upmode", "cb_pdat", E::Index);
    add("OTHER", "relaytime", "edt_relay_time", E::Text);
    add("OTHER", "gprsupmode", "cbb_gprsupmode", E::Index);
    add("OTHER", "gprstimeup", "edt_gprstimeup", E::Text);
    add("OTHER", "gprspointup", "dtp_gprspointup", E::Time);
    add("PIN", "pinverify", "chk1", E::Flag);
    add("PIN", "pincode", "edt_PinCode", E::Text);
    add("uploading", "timealarm", "edt1", E::Text);
    for (int n = 1; n <= 4; ++n)
        add("fixedpointtime", QStringLiteral("time%1open").arg(n),
            QStringLiteral("CheckBox%1").arg(n + 1), E::Flag);
    for (int n = 1; n <= 4; ++n)
        add("fixedpointtime", QStringLiteral("time%1time").arg(n),
            QStringLiteral("DateTimePicker%1").arg(n + 4), E::Time);
    for (int n = 1; n <= 4; ++n) {
        const QString section = QStringLiteral("SENSOR%1").arg(n);
        const QString edit = QStringLiteral("edt_Sensor%1_").arg(n);
        add(section, "flag", QStringLiteral("cbb_sensor%1").arg(n), E::Index);
        add(section, "ullimit", edit + "SLow", E::Text);
        add(section, "llimit", edit + "Low", E::Text);
        add(section, "uhlimit", edit + "SHigh", E::Text);
        add(section, "hlimit", edit + "High", E::Text);
        add(section, "relaytime", edit + "Relay", E::Text);
        add(section, "stp", edit + "STP", E::Text);
        add(section, "nalarm", edit + "SP", E::Text);
        add(section, "contime", edit + "ens", E::Text);
        add(section, "ainflag", QStringLiteral("cbb_sensor%1_ain").arg(n), E::Index);
        add(section, "svalue", edit + "start", E::Text);
        add(section, "evalue", edit + "end", E::Text);
    }
    return v;
}

const SettingsEntry& EntryFor(const QString& control) {
    for (const SettingsEntry& e : SettingsFile::Layout())
        if (e.control == control) return e;
    // Every control named in the load order is in the layout; reaching this is a typo.
    Q_ASSERT_X(false, "EntryFor", "control not in the layout");
    return SettingsFile::Layout().front();
}

// The load reads in its own order (texts before the states that depend on them); the two
// halves sit either side of the GPRS upload-mode rule.
QStringList LoadOrderBeforeGprsRule() {
    QStringList c;
    for (int n = 1; n <= 6; ++n) c << QStringLiteral("edt_tel%1").arg(n);
    for (int n = 1; n <= 6; ++n)
        c << QStringLiteral("cbb_tel%1_f1").arg(n) << QStringLiteral("cbb_tel%1_f2").arg(n);
    c << "edt_ip1"
      << "edt_ip2"
      << "edt_port"
      << "cbb_mode"
      << "edt_apn"
      << "edt_gprsname"
      << "edt_gprspassword";
    c << "CheckBox1"
      << "cbb_timemode"
      << "edt_tel_my"
      << "edt_pwd"
      << "edt_id"
      << "cbb_gprsupmode"
      << "edt_gprstimeup"
      << "dtp_gprspointup";
    return c;
}

QStringList LoadOrderAfterGprsRule() {
    QStringList c;
    c << "chk1"
      << "edt_PinCode"
      << "cb_pdat"
      << "edt1";
    for (int n = 2; n <= 5; ++n) c << QStringLiteral("CheckBox%1").arg(n);
    for (int n = 5; n <= 8; ++n) c << QStringLiteral("DateTimePicker%1").arg(n);
    c << "edt_rec_time"
      << "edt_relay_time"
      << "edt_GprsFailTel"
      << "edit9";
    for (const SettingsEntry& e : SettingsFile::Layout())
        if (e.section.startsWith(QLatin1String("SENSOR"))) c << e.control;
    return c;
}

void ReadInto(const ProfileFile& file, const SettingsEntry& e, DeviceSettings& settings) {
    switch (e.encoding) {
        case E::Text:
            settings.SetText(e.control, file.ReadString(e.section, e.key, {}));
            break;
        case E::Index:
            settings.SetIndex(e.control, file.ReadInteger(e.section, e.key, 0));
            break;
        case E::Flag:
            settings.SetChecked(e.control, file.ReadInteger(e.section, e.key, 0) != 0);
            break;
        case E::Time: {
            const QTime t = SettingsFile::ParseTime(file.ReadString(e.section, e.key, {}));
            if (t.isValid()) settings.SetTime(e.control, t);
            break;
        }
    }
}

QString ValueOf(const DeviceSettings& settings, const SettingsEntry& e) {
    switch (e.encoding) {
        case E::Text:
            return settings.Text(e.control);
        case E::Index:
            return QString::number(settings.Index(e.control));
        case E::Flag:
            return settings.Checked(e.control) ? QStringLiteral("1") : QStringLiteral("0");
        case E::Time:
            return SettingsFile::FormatTime(settings.Time(e.control));
    }
    return {};
}

// Index 0 (timed) or 1 (fixed time); with no selection the states stay.
void ApplyGprsUploadModeState(DeviceSettings& settings) {
    const int mode = settings.Index("cbb_gprsupmode");
    if (mode != 0 && mode != 1) return;
    settings.SetEnabled("edt_gprstimeup", mode == 0);
    settings.SetEnabled("dtp_gprspointup", mode == 1);
}

// Unlike a user's pick, a load keeps the check states it has just read.
void ApplyUploadModeState(DeviceSettings& settings) {
    const int mode = settings.Index("cb_pdat");
    if (mode == 0) {
        settings.SetEnabled("edt1", true);
        for (int n = 2; n <= 5; ++n)
            settings.SetEnabled(QStringLiteral("CheckBox%1").arg(n), false);
        for (int n = 5; n <= 8; ++n)
            settings.SetEnabled(QStringLiteral("DateTimePicker%1").arg(n), false);
    } else if (mode == 1) {
        settings.SetEnabled("edt1", false);
        settings.SetEnabled("CheckBox2", true);
        settings.SetEnabled("DateTimePicker5", true);
    }
}

// Lets the limit message of the load reach the caller's interface, then puts the old back.
class ScopedUserInterface {
  public:
    ScopedUserInterface(DeviceSettings& settings, IMessages& ui)
        : m_settings(settings), m_previous(settings.UserInterface()) {
        m_settings.SetUserInterface(&ui);
    }
    ~ScopedUserInterface() { m_settings.SetUserInterface(m_previous); }
    ScopedUserInterface(const ScopedUserInterface&) = delete;
    ScopedUserInterface& operator=(const ScopedUserInterface&) = delete;

  private:
    DeviceSettings& m_settings;
    IMessages* m_previous;
};

}  // namespace

const std::vector<SettingsEntry>& SettingsFile::Layout() {
    static const std::vector<SettingsEntry> layout = BuildLayout();
    return layout;
}

QString SettingsFile::FormatTime(const QTime& time) {
    return time.isValid() ? time.toString(QStringLiteral("HH:mm:ss")) : QString();
}

QTime SettingsFile::ParseTime(const QString& text) {
    const QStringList parts = text.trimmed().split(u':');
    if (parts.size() < 2 || parts.size() > 3) return {};
    int values[3] = {0, 0, 0};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& p = parts[i];
        if (p.isEmpty() || p.size() > 2) return {};
        for (QChar c : p)
            if (c < u'0' || c > u'9') return {};
        values[i] = p.toInt();
    }
    return QTime(values[0], values[1], values[2]);  // invalid when out of range
}

QString SettingsFile::ProposedFileName(const QDateTime& now) {
    return QStringLiteral("setini") + now.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

QString SettingsFile::WithDefaultExtension(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    if (name.isEmpty() || name.contains(u'.')) return path;
    return path + u'.' + kDefaultExtension;
}

bool SettingsFile::Save(const QString& path, const DeviceSettings& settings, IMessages& ui) {
    ProfileFile file;
    // Merging needs the old content; writing without it would drop what others put there.
    bool ok = file.Load(path) != ProfileFile::LoadResult::Unreadable;
    if (ok) {
        for (const SettingsEntry& e : Layout())
            file.WriteString(e.section, e.key, ValueOf(settings, e));
        ok = file.SaveAs(path);
    }
    if (!ok) {
        const QString fullName = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
        ui.ShowMessage(QStringLiteral("Unable to write to %1.").arg(fullName), kAppTitle,
                       MsgButtons::Ok);
    }
    return ok;
}

void SettingsFile::Load(const QString& path, DeviceSettings& settings, IMessages& ui) {
    ProfileFile file;
    file.Load(path);  // a missing or unreadable file reads as empty
    const ScopedUserInterface scope(settings, ui);
    // The file's values stand on their own: a list it leaves without a selection writes 0xFF,
    // not what the last read of the controller held.
    settings.ForgetRead();

    // The only key read under another spelling, and the only text with a default of its own.
    settings.SetText("edt_setpwd", file.ReadString("COM", "SetPwd", QStringLiteral("5807")));
    for (const QString& control : LoadOrderBeforeGprsRule())
        ReadInto(file, EntryFor(control), settings);
    ApplyGprsUploadModeState(settings);
    for (const QString& control : LoadOrderAfterGprsRule())
        ReadInto(file, EntryFor(control), settings);
    ApplyUploadModeState(settings);
}

}  // namespace r4t8
