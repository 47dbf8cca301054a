// The controls the session switches on and off: the login button and the device controls.
#pragma once

namespace r4t8 {

class ISessionControls {
  public:
    virtual ~ISessionControls() = default;
    // `btn7` (a stop disables it until the port is opened again).
    virtual void SetLoginEnabled(bool /*enabled*/) {}
    // The 15 device controls (login succeeded / port closed / stop).
    virtual void SetDeviceControlsEnabled(bool /*enabled*/) {}
};

}  // namespace r4t8
