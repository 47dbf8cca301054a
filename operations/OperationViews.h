// What the direct operations and the history export show besides messages and bars: the
// fields they fill, and the desktop's "open" action for the exported files.
#pragma once

#include <QDateTime>
#include <QString>

namespace r4t8 {

// The fields of the pages "当前数据" and "其它操作". Defaults do nothing, so a front end
// overrides only what it shows.
class IOperationFields {
  public:
    virtual ~IOperationFields() = default;
    // The clock reply: `dtp_DeviceCurrentTime`, `DateTimePicker3`, `DateTimePicker4`.
    virtual void ShowDeviceTime(const QDateTime& /*time*/) {}
    // One value cell of `strngrd_curdata` (column 1..11, row 1).
    virtual void SetCurrentDataCell(int /*column*/, const QString& /*text*/) {}
    // Debug output: `Memo1` when received is true ('R'), `memo2` otherwise ('T').
    virtual void AppendDebugOutput(bool /*received*/, const QString& /*text*/) {}
};

// The history export's host.
class IExportHost {
  public:
    virtual ~IExportHost() = default;
    // The desktop's "open" action; returns 0 on success or a failure code (2: not found).
    virtual int OpenWithDesktop(const QString& path) = 0;
    // Lets the front end handle pending events (the export yields once per record).
    virtual void ProcessEvents() {}
};

}  // namespace r4t8
