#include "config/DeviceSettings.h"

#include <QHash>
#include <algorithm>
#include <limits>

#include "protocol/Captions.h"
#include "protocol/UserInterfaces.h"

namespace r4t8 {

namespace {

constexpr int kGprsTimeLimit = 1440;

const QStringList kUploadModes{QStringLiteral("定时上传"), QStringLiteral("定点上传")};

FieldSpec Edit(const QString& name, FieldKind kind, const QString& caption, const QString& group,
               int maxLength, KeyFilter filter, const QString& def = {}) {
    FieldSpec s;
    s.name = name;
    s.kind = kind;
    s.caption = caption;
    s.group = group;
    s.maxLength = maxLength;
    s.filter = filter;
    s.defaultText = def;
    return s;
}

FieldSpec Combo(const QString& name, const QString& caption, const QString& group,
                const QStringList& items, int defaultIndex) {
    FieldSpec s;
    s.name = name;
    s.kind = FieldKind::Choice;
    s.caption = caption;
    s.group = group;
    s.items = items;
    s.defaultIndex = defaultIndex;
    return s;
}

FieldSpec Flag(const QString& name, const QString& caption, const QString& group,
               bool enabled = true) {
    FieldSpec s;
    s.name = name;
    s.kind = FieldKind::Flag;
    s.caption = caption;
    s.group = group;
    s.defaultEnabled = enabled;
    return s;
}

FieldSpec Picker(const QString& name, const QString& caption, const QString& group, bool enabled) {
    FieldSpec s;
    s.name = name;
    s.kind = FieldKind::Time;
    s.caption = caption;
    s.group = group;
    s.defaultEnabled = enabled;
    return s;
}

using K = FieldKind;
using F = KeyFilter;

// The table of every field, group by group, in the order the window and the file use.
void AddLoginFields(std::vector<FieldSpec>& v) {
    const QString login = QStringLiteral("grp8");
    v.push_back(Edit("edt_setpwd", K::Text, QStringLiteral("密码"), login, 4, F::Decimal, "5807"));
    FieldSpec model = Edit("Edit1", K::Text, QStringLiteral("型号："), login, 0, F::None);
    model.readOnly = true;
    v.push_back(model);
    FieldSpec version = Edit("edt43", K::Text, QStringLiteral("版本："), login, 0, F::None);
    version.readOnly = true;
    v.push_back(version);
}

void AddSystemFields(std::vector<FieldSpec>& v) {
    const QString sys = QStringLiteral("系统参数");
    v.push_back(Combo("cbb_timemode", QStringLiteral("校时方式："), sys,
                      {QStringLiteral("手动"), QStringLiteral("自动")}, 1));
    v.push_back(Edit("edt_tel_my", K::Text, QStringLiteral("本机号码："), sys, 20, F::Phone));
    v.push_back(Edit("edt_pwd", K::Text, QStringLiteral("操作密码："), sys, 4, F::Digits, "5807"));
    v.push_back(Edit("edt_id", K::Text, QStringLiteral("设备编号："), sys, 15, F::Digits));
    v.push_back(
        Edit("edt_rec_time", K::Integer, QStringLiteral("记录时间："), sys, 3, F::Decimal, "5"));
    v.push_back(Flag("CheckBox1", QStringLiteral("GPS开启："), sys));
    v.push_back(Flag("chk1", QStringLiteral("验证PIN："), sys));
    v.push_back(Edit("edt_PinCode", K::Text, QStringLiteral("PIN码："), sys, 6, F::Digits, "5807"));
    v.push_back(Edit("edt_GprsFailTel", K::Text, QStringLiteral("GPRS连接失败报告电话："), sys, 20,
                     F::Phone));
    v.push_back(Combo("cb_pdat", QStringLiteral("上传方式："), sys, kUploadModes, 0));
    v.push_back(Edit("edit9", K::Text, QStringLiteral("上传号码："), sys, 20, F::Phone));
    v.push_back(Edit("edt1", K::Integer, QStringLiteral("定时时间："), sys, 3, F::Digits, "24"));
    for (int row = 1; row <= 4; ++row) {
        const QString caption = QStringLiteral("定点时间%1：").arg(row);
        v.push_back(Flag(QStringLiteral("CheckBox%1").arg(row + 1), caption, sys, false));
        v.push_back(Picker(QStringLiteral("DateTimePicker%1").arg(row + 4), caption, sys, false));
    }
    v.push_back(Edit("edt_relay_time", K::Integer, QStringLiteral("呼入继电器闭合时间："), sys, 4,
                     F::SignedDecimal, "10"));
    v.push_back(Combo("cbb_gprsupmode", QStringLiteral("GPRS上传方式："), sys, kUploadModes, 0));
    v.push_back(
        Edit("edt_gprstimeup", K::Integer, QStringLiteral("GPRS定时时间："), sys, 4, F::Digits));
    v.push_back(Picker("dtp_gprspointup", QStringLiteral("GPRS定点时间："), sys, false));
}

void AddPhoneFields(std::vector<FieldSpec>& v) {
    const QString tel = QStringLiteral("报警号码设置");
    const QStringList f1{QStringLiteral("发短信并拨号"), QStringLiteral("只发短信")};
    const QStringList f2{QStringLiteral("返回主机状态"), QStringLiteral("操作继电器"),
                         QStringLiteral("GPRS拨号上线"), QStringLiteral("设备重启")};
    for (int n = 1; n <= 6; ++n) {
        v.push_back(Edit(QStringLiteral("edt_tel%1").arg(n), K::Text,
                         QStringLiteral("电话号%1").arg(n), tel, 20, F::Phone));
        v.push_back(
            Combo(QStringLiteral("cbb_tel%1_f1").arg(n), QStringLiteral("功能码1"), tel, f1, 0));
        v.push_back(
            Combo(QStringLiteral("cbb_tel%1_f2").arg(n), QStringLiteral("功能码2"), tel, f2, 0));
    }
}

void AddGprsFields(std::vector<FieldSpec>& v) {
    const QString gprs = QStringLiteral("GPRS参数设置");
    v.push_back(Edit("edt_ip1", K::Text, QStringLiteral("GPRS主IP"), gprs, 32, F::None));
    v.push_back(Edit("edt_ip2", K::Text, QStringLiteral("GPRS从IP"), gprs, 32, F::None));
    v.push_back(Edit("edt_port", K::Integer, QStringLiteral("端口："), gprs, 0, F::Digits, "8000"));
    v.push_back(Combo("cbb_mode", QStringLiteral("协议："), gprs,
                      {QStringLiteral("TCP"), QStringLiteral("UDP")}, 0));
    v.push_back(Edit("edt_apn", K::Text, QStringLiteral("接入点名称"), gprs, 32, F::None));
    v.push_back(Edit("edt_gprsname", K::Text, QStringLiteral("GPRS用户名"), gprs, 32, F::None));
    v.push_back(Edit("edt_gprspassword", K::Text, QStringLiteral("GPRS密码"), gprs, 32, F::None));
}

void AddSensorFields(std::vector<FieldSpec>& v) {
    const QStringList types{QStringLiteral("摄氏度"), QStringLiteral("华氏度"),
                            QStringLiteral("模拟")};
    const QStringList ranges{QStringLiteral("关闭"), QStringLiteral("0～20mA/0～5V"),
                             QStringLiteral("4～20mA")};
    for (int n = 1; n <= 4; ++n) {
        const QString group = QStringLiteral("报警参数设置%1").arg(n);
        const QString p = QStringLiteral("edt_Sensor%1_").arg(n);
        v.push_back(Combo(QStringLiteral("cbb_sensor%1").arg(n), QStringLiteral("传感器%1").arg(n),
                          group, types, 0));
        v.push_back(
            Edit(p + "SLow", K::Decimal, QStringLiteral("超低限值"), group, 8, F::SignedDecimal));
        v.push_back(
            Edit(p + "Low", K::Decimal, QStringLiteral("低限值"), group, 8, F::SignedDecimal));
        v.push_back(
            Edit(p + "SHigh", K::Decimal, QStringLiteral("超高限值"), group, 8, F::SignedDecimal));
        v.push_back(
            Edit(p + "High", K::Decimal, QStringLiteral("高限值"), group, 8, F::SignedDecimal));
        v.push_back(
            Edit(p + "Relay", K::Integer, QStringLiteral("继电器闭合时间"), group, 4, F::Digits));
        v.push_back(Edit(p + "STP", K::Integer, QStringLiteral("步长"), group, 2, F::Digits));
        v.push_back(
            Edit(p + "SP", K::Integer, QStringLiteral("下次报警间隔"), group, 3, F::Digits));
        v.push_back(
            Edit(p + "ens", K::Integer, QStringLiteral("报警确认时间"), group, 3, F::Digits));
        v.push_back(Combo(QStringLiteral("cbb_sensor%1_ain").arg(n), QString(), group, ranges, 0));
        v.push_back(
            Edit(p + "start", K::Decimal, QStringLiteral("起始值"), group, 8, F::SignedDecimal));
        v.push_back(
            Edit(p + "end", K::Decimal, QStringLiteral("终止值"), group, 8, F::SignedDecimal));
    }
}

std::vector<FieldSpec> BuildSpecs() {
    std::vector<FieldSpec> v;
    AddLoginFields(v);
    AddSystemFields(v);
    AddPhoneFields(v);
    AddGprsFields(v);
    AddSensorFields(v);
    return v;
}

const std::vector<FieldSpec>& AllSpecs() {
    static const std::vector<FieldSpec> specs = BuildSpecs();
    return specs;
}

// Every access goes by control name, many times per block: a hash, not a scan.
const QHash<QString, int>& SpecIndex() {
    static const QHash<QString, int> index = [] {
        QHash<QString, int> h;
        const std::vector<FieldSpec>& specs = AllSpecs();
        h.reserve(static_cast<qsizetype>(specs.size()));
        for (size_t i = 0; i < specs.size(); ++i) h.insert(specs[i].name, static_cast<int>(i));
        return h;
    }();
    return index;
}

// Whole text as a signed decimal integer within int range, nothing else around it.
bool ParseWholeInt(const QString& text, long long& out) {
    int i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size()) return false;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c.unicode() - '0');
        if (value > std::numeric_limits<int>::max() + 1LL) return false;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        return false;
    out = value;
    return true;
}

}  // namespace

DeviceSettings::DeviceSettings(IMessages* ui) : m_ui(ui) {
    for (const FieldSpec& s : AllSpecs()) {
        Value v;
        v.text = s.defaultText;
        if (s.kind == FieldKind::Choice) {
            v.items = s.items;
            v.index = s.defaultIndex;
            v.text = s.items.value(s.defaultIndex);
        }
        v.checked = s.defaultChecked;
        v.time = s.defaultTime;
        v.enabled = s.defaultEnabled;
        m_values.push_back(std::move(v));
    }
}

const std::vector<FieldSpec>& DeviceSettings::Specs() const { return AllSpecs(); }

int DeviceSettings::IndexOf(const QString& name) const { return SpecIndex().value(name, -1); }

const FieldSpec* DeviceSettings::Spec(const QString& name) const {
    const int i = IndexOf(name);
    return i < 0 ? nullptr : &AllSpecs()[static_cast<size_t>(i)];
}

DeviceSettings::Value* DeviceSettings::Find(const QString& name) {
    const int i = IndexOf(name);
    return i < 0 ? nullptr : &m_values[static_cast<size_t>(i)];
}

const DeviceSettings::Value* DeviceSettings::Find(const QString& name) const {
    const int i = IndexOf(name);
    return i < 0 ? nullptr : &m_values[static_cast<size_t>(i)];
}

void DeviceSettings::Notify(const QString& name) {
    if (m_listeners.empty()) return;
    // A listener may add or remove listeners; iterate over a snapshot.
    const auto listeners = m_listeners;
    for (const auto& [id, listener] : listeners)
        if (listener) listener(name);
}

QString DeviceSettings::Text(const QString& name) const {
    const Value* v = Find(name);
    return v ? v->text : QString();
}

void DeviceSettings::SetText(const QString& name, const QString& text) {
    const int i = IndexOf(name);
    if (i < 0) return;
    Value* v = &m_values[static_cast<size_t>(i)];
    if (AllSpecs()[static_cast<size_t>(i)].kind == FieldKind::Choice) {
        SetComboText(name, text);
        return;
    }
    if (v->text == text) return;
    v->text = text;
    Notify(name);
    if (name == QLatin1String("edt_gprstimeup")) CheckGprsTimeLimit();
}

void DeviceSettings::SetLatin1Text(const QString& name, QLatin1StringView text) {
    const int i = IndexOf(name);
    if (i < 0) return;
    const Value& v = m_values[static_cast<size_t>(i)];
    const bool combo = AllSpecs()[static_cast<size_t>(i)].kind == FieldKind::Choice;
    if (v.text == text && (!combo || v.index == -1)) return;
    SetText(name, QString(text));
}

int DeviceSettings::Index(const QString& name) const {
    const Value* v = Find(name);
    return v ? v->index : -1;
}

void DeviceSettings::SetIndex(const QString& name, int index) {
    Value* v = Find(name);
    if (!v) return;
    if (index < 0 || index >= v->items.size()) index = -1;
    if (index >= 0) v->read = {};  // a selected entry has a code of its own
    const QString text = index >= 0 ? v->items.at(index) : QString();
    if (v->index == index && v->text == text) return;
    v->index = index;
    v->text = text;
    Notify(name);
}

QStringList DeviceSettings::Items(const QString& name) const {
    const Value* v = Find(name);
    return v ? v->items : QStringList();
}

void DeviceSettings::SetItems(const QString& name, const QStringList& items, int selectIndex) {
    Value* v = Find(name);
    if (!v) return;
    if (selectIndex < 0 || selectIndex >= items.size()) selectIndex = -1;
    if (selectIndex >= 0) v->read = {};
    const QString text = selectIndex >= 0 ? items.at(selectIndex) : QString();
    if (v->items == items && v->index == selectIndex && v->text == text) return;
    v->items = items;
    v->index = selectIndex;
    v->text = text;
    Notify(name);
}

void DeviceSettings::SetComboText(const QString& name, const QString& text) {
    Value* v = Find(name);
    if (!v) return;
    if (v->index == -1 && v->text == text) return;
    v->index = -1;
    v->text = text;
    Notify(name);
}

bool DeviceSettings::Checked(const QString& name) const {
    const Value* v = Find(name);
    return v && v->checked;
}

void DeviceSettings::SetChecked(const QString& name, bool checked) {
    Value* v = Find(name);
    if (!v) return;
    v->read = {};
    if (v->checked == checked) return;
    v->checked = checked;
    Notify(name);
    ApplyChainRule(name);
}

QTime DeviceSettings::Time(const QString& name) const {
    const Value* v = Find(name);
    return v ? v->time : QTime();
}

void DeviceSettings::SetTime(const QString& name, const QTime& time) {
    Value* v = Find(name);
    if (!v || v->time == time) return;
    v->time = time;
    Notify(name);
}

bool DeviceSettings::Enabled(const QString& name) const {
    const Value* v = Find(name);
    return v && v->enabled;
}

void DeviceSettings::SetEnabled(const QString& name, bool enabled) {
    Value* v = Find(name);
    if (!v || v->enabled == enabled) return;
    v->enabled = enabled;
    Notify(name);
}

void DeviceSettings::UserPickIndex(const QString& name, int index) {
    Value* v = Find(name);
    if (!v) return;
    const int before = v->index;
    SetIndex(name, index);
    const int now = Index(name);
    // Only a pick that changes the selection is a change of the mode; re-picking the same
    // item must not disable the rows the chain rule has opened.
    if (now < 0 || now == before) return;
    if (name == QLatin1String("cb_pdat")) {
        if (now == 0) {
            SetEnabled("edt1", true);
            for (int k = 2; k <= 5; ++k) {
                SetEnabled(QStringLiteral("CheckBox%1").arg(k), false);
                SetChecked(QStringLiteral("CheckBox%1").arg(k), false);
            }
            for (int k = 5; k <= 8; ++k)
                SetEnabled(QStringLiteral("DateTimePicker%1").arg(k), false);
        } else if (now == 1) {
            SetEnabled("edt1", false);
            SetEnabled("CheckBox2", true);
            for (int k = 3; k <= 5; ++k) SetEnabled(QStringLiteral("CheckBox%1").arg(k), false);
            SetEnabled("DateTimePicker5", true);
            for (int k = 6; k <= 8; ++k)
                SetEnabled(QStringLiteral("DateTimePicker%1").arg(k), false);
        }
    } else if (name == QLatin1String("cbb_gprsupmode")) {
        if (now == 0 || now == 1) {
            SetEnabled("edt_gprstimeup", now == 0);
            SetEnabled("dtp_gprspointup", now == 1);
        }
    }
}

void DeviceSettings::ResetToDefaults() {
    ForgetRead();
    m_typeCodes = {'C', 'F', 'B'};
    for (const FieldSpec& s : AllSpecs()) {
        Value* v = Find(s.name);
        Value d;
        d.text = s.defaultText;
        if (s.kind == FieldKind::Choice) {
            d.items = s.items;
            d.index = s.defaultIndex;
            d.text = s.items.value(s.defaultIndex);
        }
        d.checked = s.defaultChecked;
        d.time = s.defaultTime;
        d.enabled = s.defaultEnabled;
        const bool same = v->text == d.text && v->index == d.index && v->items == d.items &&
                          v->checked == d.checked && v->time == d.time && v->enabled == d.enabled;
        if (same) continue;
        // Restored as a whole: the defaults already agree with every rule.
        *v = d;
        Notify(s.name);
    }
}

void DeviceSettings::KeepReadBytes(const QString& name, const uint8_t* bytes, size_t count) {
    Value* v = Find(name);
    if (!v) return;
    v->read = {};
    v->read.size = static_cast<uint8_t>(std::min(count, v->read.bytes.size()));
    std::copy_n(bytes, v->read.size, v->read.bytes.begin());
}

KeptBytes DeviceSettings::ReadBytes(const QString& name) const {
    const Value* v = Find(name);
    return v ? v->read : KeptBytes{};
}

void DeviceSettings::KeepReadBlock(uint32_t address, const uint8_t* bytes) {
    std::copy_n(bytes, kReadBlockSize, m_readBlocks[address].begin());
}

const ReadBlockBytes* DeviceSettings::ReadBlock(uint32_t address) const {
    const auto it = m_readBlocks.find(address);
    return it == m_readBlocks.end() ? nullptr : &it->second;
}

void DeviceSettings::ForgetRead() {
    m_readBlocks.clear();
    for (Value& v : m_values) v.read = {};
}

int DeviceSettings::AddListener(Listener listener) {
    const int id = m_nextListener++;
    m_listeners.emplace(id, std::move(listener));
    return id;
}

void DeviceSettings::RemoveListener(int id) { m_listeners.erase(id); }

void DeviceSettings::ApplyChainRule(const QString& name) {
    static const QStringList kChained{QStringLiteral("CheckBox2"), QStringLiteral("CheckBox3"),
                                      QStringLiteral("CheckBox4")};
    const int row = kChained.indexOf(name);  // 0 for CheckBox2
    if (row < 0) return;
    const QString nextBox = QStringLiteral("CheckBox%1").arg(row + 3);
    const QString nextPicker = QStringLiteral("DateTimePicker%1").arg(row + 6);
    if (Checked(name)) {
        SetEnabled(nextBox, true);
        SetEnabled(nextPicker, true);
    } else {
        SetEnabled(nextBox, false);
        SetChecked(nextBox, false);  // cascades down the rows
        SetEnabled(nextPicker, false);
    }
}

void DeviceSettings::CheckGprsTimeLimit() {
    // Setting the shortened text re-enters through SetText; the loop below does the work.
    if (m_inLimitCheck) return;
    m_inLimitCheck = true;
    const QString name = QStringLiteral("edt_gprstimeup");
    for (;;) {
        const QString text = Text(name);
        long long value = 0;
        if (!ParseWholeInt(text, value) || value <= kGprsTimeLimit) break;
        if (m_ui) m_ui->ShowMessage(QStringLiteral("输入值超出范围"), kAppTitle, MsgButtons::Ok);
        // Text changed while the box was open: check the new text instead.
        QString shortened = Text(name);
        if (shortened != text) continue;
        if (shortened.size() < 4) break;
        shortened.remove(3, 1);
        SetText(name, shortened);
    }
    m_inLimitCheck = false;
}

}  // namespace r4t8
