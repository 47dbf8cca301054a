// The sensor set-up that follows the model a controller reports at login.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

#include "config/DeviceSettings.h"
#include "protocol/Frame.h"

namespace r4t8 {

struct ModelInfo {
    QString model;    // as shown in Edit1 (stops before the first 0xFF)
    QString version;  // as shown in edt43
};

// Reads model and version from a login reply's payload (byte 0 the status, then model, 0,
// version, 0), refills the sensor type combos, rewrites SensorTypeCodes, enables or disables
// sensors 3 and 4 for the four known variants, and sets Edit1 and edt43.
ModelInfo SetupForModel(DeviceSettings& settings, const uint8_t* payload, size_t count);
ModelInfo SetupForModel(DeviceSettings& settings, const ReplyRecord& reply);

// The twelve control names of sensor n (1..4).
QStringList SensorControlNames(int sensor);

}  // namespace r4t8
