#pragma once
// The one error the serial port raises: a code with a fixed text, and the system's error number when
// there is one.
#include <cstdint>
#include <string>

#include "serial/platform/ComPlatform.h"
#include "toolkit/Exceptions.h"

enum TComErrorCode : int {
  CError_OpenFailed = 1,
  CError_WriteFailed = 2,
  CError_ReadFailed = 3,
  CError_InvalidAsync = 4,
  CError_PurgeFailed = 5,
  CError_AsyncCheck = 6,
  CError_SetStateFailed = 7,
  CError_TimeoutsFailed = 8,
  CError_SetupComFailed = 9,
  CError_ClearComFailed = 10,
  CError_ModemStatFailed = 11,
  CError_EscapeComFailed = 12,
  CError_TransmitFailed = 13,
  CError_ConnChangeProp = 14,
  CError_EnumPortsFailed = 15,
  CError_StoreFailed = 16,
  CError_LoadFailed = 17,
  CError_RegFailed = 18,
  CError_LedStateFailed = 19,
  CError_ThreadCreated = 20,
  CError_WaitFailed = 21,
  CError_HasLink = 22,
  CError_RegError = 23,
};

class EComPort : public Exception {
 public:
  // osError -1: no system error number; the text is the code's text alone.
  EComPort(int code, int64_t osError = -1);
  // With the number as the platform names it and what it means on the port.
  EComPort(int code, int64_t osError, const TSystemErrorText& systemText);
  int Code;
  int64_t OsError;

  // The fixed text of a code (1 to 23); empty for any other number.
  static std::string CodeText(int code);
  static std::string MessageFor(int code, int64_t osError, const TSystemErrorText& systemText = {});
};
