// The key filters of the settings edits: each sees a typed character before the edit does and
// lets it through or swallows it. Pasted text and text set by the program are never filtered.
#pragma once

#include <QChar>
#include <QString>

#include "config/DeviceSettings.h"

namespace r4t8 {

inline constexpr char16_t kBackspace = 8;

bool DigitsFilter(QChar ch);
bool SignedDecimalFilter(QChar ch);
bool DecimalFilter(QChar ch);
// '+' only as the first character of an empty edit, whatever is selected.
bool PhoneFilter(QChar ch, const QString& currentText);

// True when `ch` may reach an edit carrying `filter`; KeyFilter::None lets everything through.
bool KeyFilterAccepts(KeyFilter filter, QChar ch, const QString& currentText);

// The filter of a named edit: the settings record's own for its fields, DigitsFilter for the
// relay edits of the operations page, which are no settings, and None for anything else.
KeyFilter KeyFilterForControl(const DeviceSettings& settings, const QString& name);

}  // namespace r4t8
