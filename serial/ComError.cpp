#include "serial/ComError.h"

namespace {
const char* const CodeTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};
constexpr int CodeCount = sizeof(CodeTexts) / sizeof(CodeTexts[0]);
}  // namespace

EComPort::EComPort(int code, int64_t osError)
    : Exception(MessageFor(code, osError)), Code(code), OsError(osError) {}

EComPort::EComPort(int code, int64_t osError, const TSystemErrorText& systemText)
    : Exception(MessageFor(code, osError, systemText)), Code(code), OsError(osError) {}

std::string EComPort::CodeText(int code) {
  if (code < 1 || code > CodeCount) return {};
  return CodeTexts[code - 1];
}

std::string EComPort::MessageFor(int code, int64_t osError, const TSystemErrorText& systemText) {
  std::string text = CodeText(code);
  // Only a code nobody defined lacks a text; still say which one it was.
  if (text.empty()) text = "Com port error " + std::to_string(code);
  if (osError == -1) return text;
  if (systemText.Suffix.empty())
    text += " (win error code: " + std::to_string(osError) + ")";
  else
    text += systemText.Suffix;
  if (!systemText.Explanation.empty()) text += "\r\n" + systemText.Explanation;
  return text;
}
