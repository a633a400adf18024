#include "serial/platform/posix/PosixLineSettings.h"

#include <sys/ioctl.h>

#include <cerrno>

namespace {
using namespace DcbFlag;

struct TSpeed {
  uint32_t Rate;
  speed_t Speed;
};
constexpr TSpeed Speeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};
}  // namespace

bool SpeedForBaudRate(uint32_t rate, speed_t& speed) {
  for (const TSpeed& s : Speeds)
    if (s.Rate == rate) {
      speed = s.Speed;
      return true;
    }
  return false;
}

int TermiosFromDcb(const TDcb& dcb, termios& t) {
  speed_t speed;
  if (!SpeedForBaudRate(dcb.BaudRate, speed)) return EINVAL;

  cfmakeraw(&t);
  // Nonblocking reads must tell "nothing there" (EAGAIN) from end of file (0).
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  t.c_cflag |= CLOCAL | CREAD;
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return EINVAL;

  t.c_cflag &= ~tcflag_t(CSIZE);
  switch (dcb.ByteSize) {
    case 5:
      t.c_cflag |= CS5;
      break;
    case 6:
      t.c_cflag |= CS6;
      break;
    case 7:
      t.c_cflag |= CS7;
      break;
    case 8:
      t.c_cflag |= CS8;
      break;
    default:
      return EINVAL;
  }

  t.c_cflag &= ~tcflag_t(PARENB | PARODD);
#ifdef CMSPAR
  t.c_cflag &= ~tcflag_t(CMSPAR);
#endif
  switch (dcb.Parity) {
    case 0:
      break;
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      t.c_cflag |= PARENB;
      break;
#ifdef CMSPAR
    case 3:
      t.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case 4:
      t.c_cflag |= PARENB | CMSPAR;
      break;
#endif
    default:
      return EINVAL;
  }
  if (dcb.Flags & fParity) t.c_iflag |= INPCK;

  switch (dcb.StopBits) {
    case 0:
      t.c_cflag &= ~tcflag_t(CSTOPB);
      break;
    // A UART sends 1.5 stop bits for "two" at five data bits; at other sizes there is no such thing.
    case 1:
      if (dcb.ByteSize != 5) return EINVAL;
      t.c_cflag |= CSTOPB;
      break;
    case 2:
      t.c_cflag |= CSTOPB;
      break;
    default:
      return EINVAL;
  }

  // No DSR/DTR handshake, DSR sensitivity or RTS toggling in termios.
  if ((dcb.Flags & (fOutxDsrFlow | fDsrSensitivity)) || DtrControl(dcb) == ControlHandshake ||
      DtrControl(dcb) > ControlHandshake || RtsControl(dcb) == RtsToggle)
    return EINVAL;
  if ((dcb.Flags & fOutxCtsFlow) || RtsControl(dcb) == ControlHandshake)
    t.c_cflag |= CRTSCTS;
  else
    t.c_cflag &= ~tcflag_t(CRTSCTS);

  t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
  if (dcb.Flags & fOutX) t.c_iflag |= IXON;
  if (dcb.Flags & fInX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = cc_t(dcb.XonChar);
  t.c_cc[VSTOP] = cc_t(dcb.XoffChar);
  return 0;
}

TModemLineChange ModemLinesFromDcb(const TDcb& dcb) {
  TModemLineChange change;
  (DtrControl(dcb) == ControlEnable ? change.Raise : change.Drop) |= TIOCM_DTR;
  // Under handshake the driver moves RTS itself; it starts raised.
  (RtsControl(dcb) == ControlDisable ? change.Drop : change.Raise) |= TIOCM_RTS;
  return change;
}
