#include <gtest/gtest.h>

#include <map>

#include "config/DeviceSettings.h"
#include "ui/file/KeyFilters.h"

using namespace r4t8;

namespace {

// The characters each filter lets through, besides backspace.
const std::map<KeyFilter, QString> kAllowed{
    {KeyFilter::Digits, QStringLiteral("0123456789")},
    {KeyFilter::SignedDecimal, QStringLiteral("0123456789+-.")},
    {KeyFilter::Decimal, QStringLiteral("0123456789.")},
};

TEST(KeyFilters, EveryCharacterOfTheBasicPlaneAgainstTheAllowedSet) {
    for (const auto& [filter, allowed] : kAllowed) {
        for (int code = 0; code <= 0xFFFF; ++code) {
            const QChar ch(static_cast<char16_t>(code));
            const bool expected = code == 8 || allowed.contains(ch);
            // The current text must not matter to these filters.
            ASSERT_EQ(KeyFilterAccepts(filter, ch, QString()), expected)
                << "filter " << static_cast<int>(filter) << " char " << code;
            ASSERT_EQ(KeyFilterAccepts(filter, ch, QStringLiteral("12")), expected)
                << "filter " << static_cast<int>(filter) << " char " << code;
        }
    }
}

TEST(KeyFilters, PhoneTakesPlusOnlyIntoAnEmptyEdit) {
    struct Case {
        char16_t ch;
        const char* text;
        bool accepted;
    };
    const Case cases[] = {
        {u'+', "", true},       {u'+', "1", false},     {u'+', "+", false}, {u'+', " ", false},
        {u'5', "", true},       {u'5', "+86", true},    {u'\b', "", true},  {u'\b', "+8613", true},
        {u'-', "", false},      {u'.', "", false},      {u' ', "", false},  {u'a', "", false},
        {u'\x16', "", false},                            // Ctrl+V
        {u'\r', "1", false},    {u'\x0663', "", false},  // ARABIC-INDIC DIGIT THREE
        {u'\xFF10', "", false},                          // FULLWIDTH DIGIT ZERO
    };
    for (const Case& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        EXPECT_EQ(PhoneFilter(QChar(c.ch), text), c.accepted)
            << "char " << int{c.ch} << " into \"" << c.text << "\"";
        EXPECT_EQ(KeyFilterAccepts(KeyFilter::Phone, QChar(c.ch), text), c.accepted);
    }
}

TEST(KeyFilters, SignedDecimalAcceptsASequenceInAnyOrder) {
    QString text;
    for (QChar ch : QStringLiteral("1-2.3+-..")) {
        ASSERT_TRUE(KeyFilterAccepts(KeyFilter::SignedDecimal, ch, text)) << int{ch.unicode()};
        text += ch;
    }
}

TEST(KeyFilters, NoFilterLetsEverythingThrough) {
    for (char16_t c : {u'a', u'+', u'\x16', u' ', u'\x6D4B'})
        EXPECT_TRUE(KeyFilterAccepts(KeyFilter::None, QChar(c), QStringLiteral("x")));
}

// Which edit carries which filter; a wrong assignment lets letters reach the controller.
TEST(KeyFilters, AssignmentOfEveryEdit) {
    std::map<QString, KeyFilter> expected;
    auto put = [&expected](const QString& name, KeyFilter f) { expected[name] = f; };
    for (const char* n : {"edt_pwd", "edt_id", "edt1", "edt_PinCode", "edt_gprstimeup", "edt_port",
                          "Edit8", "Edit10", "Edit11", "Edit12"})
        put(n, KeyFilter::Digits);
    put("edt_relay_time", KeyFilter::SignedDecimal);
    for (int s = 1; s <= 4; ++s) {
        const QString p = QStringLiteral("edt_Sensor%1_").arg(s);
        for (const char* n : {"Relay", "STP", "SP", "ens"}) put(p + n, KeyFilter::Digits);
        for (const char* n : {"SLow", "Low", "SHigh", "High", "start", "end"})
            put(p + n, KeyFilter::SignedDecimal);
    }
    put("edt_rec_time", KeyFilter::Decimal);
    put("edt_setpwd", KeyFilter::Decimal);
    for (int t = 1; t <= 6; ++t) put(QStringLiteral("edt_tel%1").arg(t), KeyFilter::Phone);
    for (const char* n : {"edt_tel_my", "edit9", "edt_GprsFailTel"}) put(n, KeyFilter::Phone);
    for (const char* n : {"edt_ip1", "edt_ip2", "edt_apn", "edt_gprsname", "edt_gprspassword",
                          "Edit1", "edt43", "cbb_mode", "CheckBox1", "no_such_control"})
        put(n, KeyFilter::None);

    const DeviceSettings settings;
    int digits = 0, signedDecimal = 0, decimal = 0, phone = 0;
    for (const auto& [name, filter] : expected) {
        EXPECT_EQ(KeyFilterForControl(settings, name), filter) << name.toStdString();
        digits += filter == KeyFilter::Digits;
        signedDecimal += filter == KeyFilter::SignedDecimal;
        decimal += filter == KeyFilter::Decimal;
        phone += filter == KeyFilter::Phone;
    }
    EXPECT_EQ(digits, 26);
    EXPECT_EQ(signedDecimal, 25);
    EXPECT_EQ(decimal, 2);
    EXPECT_EQ(phone, 9);
    // No field of the record carries a filter this table does not know about.
    for (const FieldSpec& spec : settings.Specs()) {
        if (spec.filter != KeyFilter::None) {
            EXPECT_TRUE(expected.count(spec.name)) << spec.name.toStdString();
        }
    }
}

}  // namespace
