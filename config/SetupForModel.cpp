#include "config/SetupForModel.h"

#include <algorithm>
#include <cstring>

#include "config/TextCodec.h"

namespace r4t8 {

namespace {

// Bytes from `begin` up to the next 0 byte or the end; `next` is just past that 0 byte.
void TakeText(const uint8_t* p, size_t count, size_t begin, size_t& end, size_t& next) {
    end = begin;
    while (end < count && p[end] != 0) ++end;
    next = end < count ? end + 1 : end;
}

QString Shown(const uint8_t* p, size_t begin, size_t end) {
    size_t stop = begin;
    while (stop < end && p[stop] != 0xFF) ++stop;
    return DecodeDeviceText(p + begin, stop - begin);
}

}  // namespace

QStringList SensorControlNames(int n) {
    const QString e = QStringLiteral("edt_Sensor%1_").arg(n);
    return {QStringLiteral("cbb_sensor%1").arg(n),
            e + "SLow",
            e + "Low",
            e + "SHigh",
            e + "High",
            e + "Relay",
            e + "STP",
            e + "SP",
            e + "ens",
            QStringLiteral("cbb_sensor%1_ain").arg(n),
            e + "start",
            e + "end"};
}

ModelInfo SetupForModel(DeviceSettings& settings, const uint8_t* payload, size_t count) {
    size_t modelEnd = 0, versionBegin = 0, versionEnd = 0, after = 0;
    const size_t modelBegin = std::min<size_t>(1, count);
    TakeText(payload, count, modelBegin, modelEnd, versionBegin);
    TakeText(payload, count, versionBegin, versionEnd, after);

    const QStringList temperature{QStringLiteral("摄氏度"), QStringLiteral("华氏度")};
    const QStringList analogue{QStringLiteral("模拟")};
    struct Variant {
        const char* id;
        int refilled;  // sensors 1..refilled get the new items
        bool fourSensors;
        bool isAnalogue;
    };
    static const Variant kVariants[] = {
        {"R4T0", 2, false, false},
        {"R4T1", 4, true, false},
        {"R4T2", 2, false, true},
        {"R4T3", 4, true, true},
    };
    if (modelEnd - modelBegin >= 4) {
        for (const Variant& v : kVariants) {
            if (std::memcmp(payload + modelBegin, v.id, 4) != 0) continue;
            for (int n = 1; n <= v.refilled; ++n)
                settings.SetItems(QStringLiteral("cbb_sensor%1").arg(n),
                                  v.isAnalogue ? analogue : temperature, 0);
            SensorTypeCodeTable& codes = settings.SensorTypeCodes();
            if (v.isAnalogue) {
                codes[0] = 'B';
            } else {
                codes[0] = 'C';
                codes[1] = 'F';
            }
            for (int n = 3; n <= 4; ++n)
                for (const QString& name : SensorControlNames(n))
                    settings.SetEnabled(name, v.fourSensors);
            break;
        }
    }

    ModelInfo info;
    info.model = Shown(payload, modelBegin, modelEnd);
    info.version = Shown(payload, versionBegin, versionEnd);
    settings.SetText(QStringLiteral("Edit1"), info.model);
    settings.SetText(QStringLiteral("edt43"), info.version);
    return info;
}

ModelInfo SetupForModel(DeviceSettings& settings, const ReplyRecord& reply) {
    const size_t count = std::min<size_t>(reply.payloadCount, reply.payload.size());
    return SetupForModel(settings, reply.payload.data(), count);
}

}  // namespace r4t8
