// What the operator reads when a port fails on POSIX: the code's own text, the error number as errno
// (never as a Windows code), and in Russian the port, the reason and, for a permission error, the group
// and the command that lets the user in.
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "serial/ComPort.h"
#include "serial/platform/posix/PosixComPlatform.h"
#include "serial/platform/posix/PosixErrorText.h"
#include "tests/serial/PtyPair.h"
#include "tests/serial/SerialTestSupport.h"
#include "tests/support/TestEnvironment.h"

namespace {

std::string UserName() { return getpwuid(geteuid())->pw_name; }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(PosixErrorText, TheNumberIsNamedAsTheSystemNamesIt) {
  EXPECT_EQ(PosixErrorText("COM3", "/dev/ttyS2", ENOENT).Suffix, " (errno: 2, ENOENT)");
  EXPECT_EQ(PosixErrorText("COM3", "/dev/ttyS2", EIO).Suffix, " (errno: 5, EIO)");
  EXPECT_EQ(PosixErrorText("COM3", "/dev/ttyS2", 4000).Suffix, " (errno: 4000)");  // one without a name
  // The port's error keeps its code and text, with the number named that way and the explanation after;
  // on the system's platform as the program has it, which also serves device servers.
  TComPort port(&SystemComPlatform());
  port.SetEvents({});
  port.SetPort("/nonexistent/tty");
  const EComPort e = Raised([&] { port.Open(); });
  EXPECT_EQ(e.Code, 1);
  EXPECT_EQ(e.OsError, ENOENT);
  EXPECT_EQ(std::string(e.what()),
            "Unable to open com port (errno: 2, ENOENT)\r\n"
            "Порт /nonexistent/tty: устройство не найдено. Проверьте, подключён ли адаптер,\r\n"
            "или выберите другой порт: «Общие настройки» → «Выбор Com-порта».");
}

TEST(PosixErrorText, EachCommonReasonIsSaidInPlainWordsWithThePortAndItsDevice) {
  EXPECT_EQ(PosixErrorText("COM3", "/dev/ttyS2", ENOENT).Explanation,
            "Порт COM3 (/dev/ttyS2): устройство не найдено. Проверьте, подключён ли адаптер,\r\n"
            "или выберите другой порт: «Общие настройки» → «Выбор Com-порта».");
  EXPECT_EQ(PosixErrorText("/dev/ttyUSB0", "/dev/ttyUSB0", EBUSY).Explanation,
            "Порт /dev/ttyUSB0 уже открыт другой программой. Закройте её и попробуйте снова.");
  EXPECT_EQ(PosixErrorText("/dev/ttyUSB0", "/dev/ttyUSB0", EIO).Explanation,
            "Порт /dev/ttyUSB0: ошибка ввода-вывода. Устройство отключено или неисправно:\r\n"
            "адаптер вынут из компьютера или другой конец линии закрыт.");
  EXPECT_EQ(PosixErrorText("LPT1", "", ENOENT).Explanation,
            "Порт LPT1: такого порта нет. Имя порта — COM1…COM256 или путь к устройству,\r\n"
            "например /dev/ttyUSB0.");
  // A serial device server's failure is the network's.
  EXPECT_EQ(SystemComPlatform().DescribeError("tcp://192.0.2.7:4001", ECONNREFUSED).Explanation,
            "Сервер порта tcp://192.0.2.7:4001 отказал в соединении.\r\n"
            "Проверьте адрес, номер порта TCP и что служба сервера запущена.");
  EXPECT_EQ(SystemComPlatform().DescribeError("rfc2217://[::1]:4001", ETIMEDOUT).Suffix, " (errno: 110, ETIMEDOUT)");
  // A reason without words of its own still names the port and says what the system said.
  EXPECT_TRUE(Contains(PosixErrorText("COM1", "/dev/ttyS0", ENOMEM).Explanation, "Порт COM1 (/dev/ttyS0): "));
}

// A device file owned by a group the user is not in, as a serial device is before the user joins
// "dialout".
class PosixPermissionText : public ::testing::Test {
 protected:
  void SetUp() override {
    device = scratch.Path() + "/ttyUSB0";
    std::ofstream(device).put('\n');
    const group* dialout = getgrnam("dialout");
    if (!dialout || chown(device.c_str(), uid_t(-1), dialout->gr_gid) != 0)
      GTEST_SKIP() << "cannot give a file to the group dialout here";
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> mine(size_t(std::max(count, 0)));
    getgroups(count, mine.data());
    if (getegid() == dialout->gr_gid || std::find(mine.begin(), mine.end(), dialout->gr_gid) != mine.end())
      GTEST_SKIP() << "this user is in dialout already";
  }
  TScratchDirectory scratch{false};
  std::string device;
};

TEST_F(PosixPermissionText, NamesTheOwningGroupAndTheCommandThatLetsTheUserIn) {
  const std::string user = UserName();
  EXPECT_EQ(PosixErrorText(device, device, EACCES).Explanation,
            "Порт " + device + ": нет прав на доступ к устройству.\r\n"
            "Устройство принадлежит группе «dialout». Добавьте в неё своего пользователя командой\r\n"
            "sudo usermod -aG dialout " + user + "\r\nи войдите в систему заново.");
  EXPECT_EQ(PosixErrorText(device, device, EACCES).Suffix, " (errno: 13, EACCES)");
  // A device only the administrator's group may use gets no advice to join that group.
  ASSERT_EQ(chown(device.c_str(), uid_t(-1), 0), 0);
  const std::string rootOnly = PosixErrorText(device, device, EPERM).Explanation;
  EXPECT_FALSE(Contains(rootOnly, "usermod -aG root")) << rootOnly;
  EXPECT_TRUE(Contains(rootOnly, "sudo usermod -aG dialout " + user)) << rootOnly;
}

}  // namespace
