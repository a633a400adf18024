#pragma once
// What a failed call on a port tells the operator on POSIX: the error number as the system names it
// ("errno: 13, EACCES"), and in plain Russian what it means on that port and what to do about it.
#include <string>

#include "serial/platform/ComPlatform.h"

// `portName` is the port's name as the operator gave it, `devicePath` the device it stands for (empty when
// the name stands for none).
TSystemErrorText PosixErrorText(const std::string& portName, const std::string& devicePath, int error);

// The same for the name of a serial device server (tcp://, rfc2217://): the failure is the network's.
TSystemErrorText PosixNetErrorText(const std::string& portName, int error);

// For a device the system refused to open for lack of permission: the group that owns it and what the
// operator must do to be let in (join the group, then log in again), one instruction per line.
std::string PermissionAdvice(const std::string& devicePath);
