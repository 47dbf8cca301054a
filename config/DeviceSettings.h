// DeviceSettings: every configuration value the window shows, keyed by its control's name,
// with the rules between fields. The window, the block codecs, the settings file and the
// command-line program all work on this one record.
#pragma once

#include <QString>
#include <QStringList>
#include <QTime>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace r4t8 {

class IMessages;

enum class FieldKind {
    Text,     // edit; text held as typed
    Integer,  // edit; decimal digits as typed
    Decimal,  // edit; signed number with optional fraction as typed
    Choice,   // combo: items, selected index (-1: none), and its own text
    Flag,     // check box
    Time,     // time picker (hours, minutes, seconds)
};

// Which key filter an edit carries.
enum class KeyFilter { None, Digits, SignedDecimal, Decimal, Phone };

struct FieldSpec {
    QString name;  // control name, e.g. "edt_Sensor1_SLow"
    FieldKind kind = FieldKind::Text;
    QString caption;    // the label beside the control, e.g. "超低限值"
    QString group;      // caption of the group box holding it, e.g. "报警参数设置1"
    int maxLength = 0;  // 0: none
    KeyFilter filter = KeyFilter::None;
    QStringList items;     // design-time items of a combo
    QString defaultText;   // edits
    int defaultIndex = 0;  // combos
    bool defaultChecked = false;
    QTime defaultTime{0, 0, 0};
    bool defaultEnabled = true;
    bool readOnly = false;  // Edit1, edt43
};

// The three type-code characters indexed by a sensor type combo's item index.
using SensorTypeCodeTable = std::array<char, 3>;

// Bytes a read left for one field (see DeviceSettings::KeepReadBytes); at most the twelve
// bytes of the upload-mode list.
struct KeptBytes {
    std::array<uint8_t, 12> bytes{};
    uint8_t size = 0;
    bool empty() const { return size == 0; }
    bool operator==(const KeptBytes& other) const {
        return size == other.size &&
               std::equal(bytes.begin(), bytes.begin() + size, other.bytes.begin());
    }
};

constexpr size_t kReadBlockSize = 256;
using ReadBlockBytes = std::array<uint8_t, kReadBlockSize>;

class DeviceSettings {
  public:
    // `ui` shows the limit message of `edt_gprstimeup`; it may be null (no message, the
    // text is still shortened).
    explicit DeviceSettings(IMessages* ui = nullptr);

    void SetUserInterface(IMessages* ui) { m_ui = ui; }
    IMessages* UserInterface() const { return m_ui; }

    // Every field, in a stable order (the order of the window's tables).
    const std::vector<FieldSpec>& Specs() const;
    const FieldSpec* Spec(const QString& name) const;  // null when unknown
    bool Has(const QString& name) const { return Spec(name) != nullptr; }

    // Values. Setting from code runs the rules that the window runs for code changes too:
    // the fixed-time chain rule on a real state change of CheckBox2..CheckBox4, and the
    // limit check on every text change of edt_gprstimeup. Setting a combo's index never
    // runs the upload-mode rules. Unknown names are ignored (getters give empty values).
    QString Text(const QString& name) const;  // edits; for a combo its text
    void SetText(const QString& name, const QString& text);
    // The same as SetText with that text as a QString, but builds no string when the field
    // already holds it (the block decoders set every field on each read).
    void SetLatin1Text(const QString& name, QLatin1StringView text);

    int Index(const QString& name) const;           // combos; -1 when no item is selected
    void SetIndex(const QString& name, int index);  // out of range: no selection
    QStringList Items(const QString& name) const;
    // Replaces the items and selects `selectIndex` (refilling at login).
    void SetItems(const QString& name, const QStringList& items, int selectIndex = 0);
    // The user typed into an editable combo: its text changes and no item is selected.
    void SetComboText(const QString& name, const QString& text);

    bool Checked(const QString& name) const;
    void SetChecked(const QString& name, bool checked);

    QTime Time(const QString& name) const;
    void SetTime(const QString& name, const QTime& time);

    bool Enabled(const QString& name) const;
    void SetEnabled(const QString& name, bool enabled);

    // A user's pick in a combo: selects the item and then runs the upload-mode rule
    // (`cb_pdat`) or the GPRS upload-mode rule (`cbb_gprsupmode`).
    void UserPickIndex(const QString& name, int index);

    // All fields back to their defaults (items, values, enabled states); forgets what the
    // last read left (ForgetRead).
    void ResetToDefaults();

    // What was read is what is written: a read keeps here the bytes of a field that the
    // window cannot show exactly, and the encoders write them back while the field still
    // stands as the read left it. A list keeps the bytes it owns in its block (used while it
    // has no selection, so also after its text was typed over); a flag keeps a byte other
    // than 0 and 1 (used while it stays checked). Selecting an entry of the list (a pick, a
    // settings-file load, a refill at login) or setting the flag forgets them; the next read
    // of the block replaces them.
    void KeepReadBytes(const QString& name, const uint8_t* bytes, size_t count);
    KeptBytes ReadBytes(const QString& name) const;  // empty when none is kept
    // The whole block at `address` as last read, for the bytes no field owns.
    void KeepReadBlock(uint32_t address, const uint8_t* bytes);
    const ReadBlockBytes* ReadBlock(uint32_t address) const;  // null when none was read
    // Everything a read kept (a settings file was loaded: its values stand on their own).
    void ForgetRead();

    // Called after any value, item list or enabled state of a field changed (also from
    // inside rules). The window updates the control of that name.
    using Listener = std::function<void(const QString& name)>;
    int AddListener(Listener listener);
    void RemoveListener(int id);

    SensorTypeCodeTable& SensorTypeCodes() { return m_typeCodes; }
    const SensorTypeCodeTable& SensorTypeCodes() const { return m_typeCodes; }

  private:
    struct Value {
        QString text;
        int index = -1;
        QStringList items;
        bool checked = false;
        QTime time;
        bool enabled = true;
        KeptBytes read;
    };
    Value* Find(const QString& name);
    const Value* Find(const QString& name) const;
    int IndexOf(const QString& name) const;  // position in Specs(); -1 when unknown
    void Notify(const QString& name);
    void ApplyChainRule(const QString& name);
    void CheckGprsTimeLimit();

    IMessages* m_ui;
    std::vector<Value> m_values;  // in the order of Specs()
    std::map<int, Listener> m_listeners;
    int m_nextListener = 1;
    bool m_inLimitCheck = false;
    SensorTypeCodeTable m_typeCodes{{'C', 'F', 'B'}};
    std::map<uint32_t, ReadBlockBytes> m_readBlocks;
};

}  // namespace r4t8
