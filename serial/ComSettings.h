#pragma once
// The settings objects a port holds. Changing a field stores it and asks the port to re-apply the
// matching group of settings; assigning one object to another copies every field.
#include <cstdint>

#include "serial/ComTypes.h"

class TCustomComPort;

class TComParity {
 public:
  explicit TComParity(TCustomComPort* port = nullptr) : port_(port) {}
  TComParity(const TComParity&) = delete;
  TComParity& operator=(const TComParity&) = delete;
  void Assign(const TComParity& source);  // copies the fields only; no re-apply

  TParityBits Bits() const { return bits_; }
  bool Check() const { return check_; }
  bool Replace() const { return replace_; }
  char ReplaceChar() const { return replaceChar_; }
  void SetBits(TParityBits value);
  void SetCheck(bool value);
  void SetReplace(bool value);
  void SetReplaceChar(char value);

 private:
  void Changed();
  TCustomComPort* port_;
  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  char replaceChar_ = 0;
};

class TComFlowControl {
 public:
  explicit TComFlowControl(TCustomComPort* port = nullptr) : port_(port) {}
  TComFlowControl(const TComFlowControl&) = delete;
  TComFlowControl& operator=(const TComFlowControl&) = delete;
  void Assign(const TComFlowControl& source);

  bool OutCTSFlow() const { return outCTSFlow_; }
  bool OutDSRFlow() const { return outDSRFlow_; }
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  bool XonXoffOut() const { return xonXoffOut_; }
  bool XonXoffIn() const { return xonXoffIn_; }
  bool DSRSensitivity() const { return dsrSensitivity_; }
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  char XonChar() const { return xonChar_; }
  char XoffChar() const { return xoffChar_; }
  // Derived from the fields above; never stored.
  TFlowControl FlowControl() const;

  void SetOutCTSFlow(bool value);
  void SetOutDSRFlow(bool value);
  void SetControlDTR(TDTRFlowControl value);
  void SetControlRTS(TRTSFlowControl value);
  void SetXonXoffOut(bool value);
  void SetXonXoffIn(bool value);
  void SetDSRSensitivity(bool value);
  void SetTxContinueOnXoff(bool value);
  void SetXonChar(char value);
  void SetXoffChar(char value);
  void SetFlowControl(TFlowControl value);

 private:
  void Changed();
  TCustomComPort* port_;
  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  char xonChar_ = 17;
  char xoffChar_ = 19;
};

class TComTimeouts {
 public:
  explicit TComTimeouts(TCustomComPort* port = nullptr) : port_(port) {}
  TComTimeouts(const TComTimeouts&) = delete;
  TComTimeouts& operator=(const TComTimeouts&) = delete;
  void Assign(const TComTimeouts& source);

  int32_t ReadInterval() const { return readInterval_; }
  int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
  int32_t ReadTotalConstant() const { return readTotalConstant_; }
  int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  int32_t WriteTotalConstant() const { return writeTotalConstant_; }
  void SetReadInterval(int32_t value);
  void SetReadTotalMultiplier(int32_t value);
  void SetReadTotalConstant(int32_t value);
  void SetWriteTotalMultiplier(int32_t value);
  void SetWriteTotalConstant(int32_t value);

 private:
  void Changed();
  TCustomComPort* port_;
  int32_t readInterval_ = -1;
  int32_t readTotalMultiplier_ = 0;
  int32_t readTotalConstant_ = 0;
  int32_t writeTotalMultiplier_ = 100;
  int32_t writeTotalConstant_ = 1000;
};

class TComBuffer {
 public:
  explicit TComBuffer(TCustomComPort* port = nullptr) : port_(port) {}
  TComBuffer(const TComBuffer&) = delete;
  TComBuffer& operator=(const TComBuffer&) = delete;
  void Assign(const TComBuffer& source);

  int32_t InputSize() const { return inputSize_; }
  int32_t OutputSize() const { return outputSize_; }
  // A positive odd size is stored one less, so the stored size is even.
  void SetInputSize(int32_t value);
  void SetOutputSize(int32_t value);

 private:
  void Changed();
  TCustomComPort* port_;
  int32_t inputSize_ = 1024;
  int32_t outputSize_ = 1024;
};
