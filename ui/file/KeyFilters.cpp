#include "ui/file/KeyFilters.h"

namespace r4t8 {

namespace {

// ASCII digits only: other scripts' digits would reach the controller as garbage.
bool IsDigit(QChar ch) { return ch >= u'0' && ch <= u'9'; }

}  // namespace

bool DigitsFilter(QChar ch) { return IsDigit(ch) || ch == kBackspace; }

bool SignedDecimalFilter(QChar ch) {
    return DigitsFilter(ch) || ch == u'+' || ch == u'-' || ch == u'.';
}

bool DecimalFilter(QChar ch) { return DigitsFilter(ch) || ch == u'.'; }

bool PhoneFilter(QChar ch, const QString& currentText) {
    if (ch == u'+') return currentText.isEmpty();
    return DigitsFilter(ch);
}

bool KeyFilterAccepts(KeyFilter filter, QChar ch, const QString& currentText) {
    switch (filter) {
        case KeyFilter::None:
            return true;
        case KeyFilter::Digits:
            return DigitsFilter(ch);
        case KeyFilter::SignedDecimal:
            return SignedDecimalFilter(ch);
        case KeyFilter::Decimal:
            return DecimalFilter(ch);
        case KeyFilter::Phone:
            return PhoneFilter(ch, currentText);
    }
    return false;
}

KeyFilter KeyFilterForControl(const DeviceSettings& settings, const QString& name) {
    if (const FieldSpec* spec = settings.Spec(name)) return spec->filter;
    static const QStringList kOperationEdits{QStringLiteral("Edit8"), QStringLiteral("Edit10"),
                                             QStringLiteral("Edit11"), QStringLiteral("Edit12")};
    return kOperationEdits.contains(name) ? KeyFilter::Digits : KeyFilter::None;
}

}  // namespace r4t8
