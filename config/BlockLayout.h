// Where each field lies in the four configuration blocks: byte offsets from the start of the
// block, and widths of the texts. The encoder and the decoder both read them from here, so the
// two cannot drift apart. Names follow the controls the fields belong to.
#pragma once

#include <cstddef>

namespace r4t8::layout {

// PhoneBlock: six rows of function codes and a number.
inline constexpr size_t kPhoneRows = 6;
inline constexpr size_t kPhoneRowSize = 22;
inline constexpr size_t kPhoneFunction1 = 0;  // cbb_telN1: '1' + position
inline constexpr size_t kPhoneFunction2 = 1;  // cbb_telN2: '1' + position
inline constexpr size_t kPhoneNumber = 2;     // edt_telN
inline constexpr size_t kPhoneNumberWidth = 20;
inline constexpr size_t kPhoneUsed = kPhoneRows * kPhoneRowSize;

// SensorBlock: four rows, one per sensor.
inline constexpr size_t kSensorRows = 4;
inline constexpr size_t kSensorRowSize = 36;
inline constexpr size_t kSensorType = 0;      // type code
inline constexpr size_t kSensorStp = 1;       // one byte
inline constexpr size_t kSensorRelay = 2;     // 16 bits
inline constexpr size_t kSensorSuperLow = 4;  // floats from here on
inline constexpr size_t kSensorLow = 8;
inline constexpr size_t kSensorSuperHigh = 12;
inline constexpr size_t kSensorHigh = 16;
inline constexpr size_t kSensorSp = 20;     // 16 bits
inline constexpr size_t kSensorEns = 22;    // 16 bits
inline constexpr size_t kSensorAin = 24;    // '0' + position
inline constexpr size_t kSensorSpare = 25;  // three bytes, always 0xFF
inline constexpr size_t kSensorSpareWidth = 3;
inline constexpr size_t kSensorRangeStart = 28;  // float
inline constexpr size_t kSensorRangeEnd = 32;    // float
inline constexpr size_t kSensorUsed = kSensorRows * kSensorRowSize;

// GprsBlock.
inline constexpr size_t kGprsTextWidth = 32;
inline constexpr size_t kGprsIp1 = 0;
inline constexpr size_t kGprsIp2 = 32;
inline constexpr size_t kGprsPort = 64;  // 16 bits
inline constexpr size_t kGprsMode = 66;  // cbb_mode: the position itself
inline constexpr size_t kGprsApn = 67;
inline constexpr size_t kGprsName = 99;
inline constexpr size_t kGprsPassword = 131;
inline constexpr size_t kGprsUsed = kGprsPassword + kGprsTextWidth;

// SystemBlock.
inline constexpr size_t kTimeMode = 0;   // cbb_timemode: the position itself
inline constexpr size_t kOwnNumber = 1;  // edt_tel_my
inline constexpr size_t kOwnNumberWidth = 20;
inline constexpr size_t kPassword = 21;  // edt_pwd: four bytes, then two always 0xFF
inline constexpr size_t kPasswordWidth = 6;
inline constexpr size_t kPasswordUsed = 4;
inline constexpr size_t kDeviceNumber = 27;  // edt_id, right-aligned with '0' on the left
inline constexpr size_t kDeviceNumberWidth = 15;
inline constexpr size_t kRecordTime = 42;  // edt_rec_time: one byte
inline constexpr size_t kFixed43 = 43;     // always 0xFF
inline constexpr size_t kFixed44 = 44;     // 60 in two bytes, no field
inline constexpr size_t kFixed45 = 45;
inline constexpr size_t kChk1 = 46;  // flag
inline constexpr size_t kPinCode = 47;
inline constexpr size_t kPinCodeWidth = 6;
inline constexpr size_t kGprsFailNumber = 53;  // edt_GprsFailTel
inline constexpr size_t kGprsFailNumberWidth = 20;
inline constexpr size_t kCheckBox1 = 73;  // flag
// cbb_gprsupmode decides 74..79: 'D' or 'M', 0xFF, the interval (16 bits), the time of day.
inline constexpr size_t kGprsUpload = 74;
inline constexpr size_t kGprsUploadWidth = 6;
inline constexpr size_t kGprsUploadInterval = 76;
inline constexpr size_t kGprsUploadTime = 78;
// cb_pdat decides 80..91: 'D' or 'M', 0xFF, the interval or the number of times (16 bits),
// then four times of day (hour, minute), 0xFF 0xFF for a row not used.
inline constexpr size_t kUpload = 80;
inline constexpr size_t kUploadWidth = 12;
inline constexpr size_t kUploadCount = 82;
inline constexpr size_t kUploadTimes = 84;
inline constexpr size_t kUploadTimeRows = 4;
inline constexpr size_t kEdit9 = 92;
inline constexpr size_t kEdit9Width = 20;
inline constexpr size_t kFixedC = 112;       // 'C', no field
inline constexpr size_t kFixed113 = 113;     // always 0xFF
inline constexpr size_t kRelayTime = 114;    // edt_relay_time: 16 bits
inline constexpr size_t kSystemSpare = 116;  // four bytes, always 0xFF
inline constexpr size_t kSystemSpareWidth = 4;
inline constexpr size_t kSystemUsed = kSystemSpare + kSystemSpareWidth;

static_assert(kPhoneUsed == 132 && kSensorUsed == 144 && kGprsUsed == 163 && kSystemUsed == 120);
static_assert(kGprsUploadTime + 2 == kUpload && kUploadTimes + 2 * kUploadTimeRows == kEdit9);

}  // namespace r4t8::layout
