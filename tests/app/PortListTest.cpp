// The port list as a Linux operator meets it, on a scratch device directory and device tree: only ports
// that open, USB adapters under their stable names with what they are beside them, and a start where every
// port was refused for lack of permission told as such.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QTest>
#include <filesystem>

#include "app/PortBox.h"
#include "app/PortList.h"
#include "serial/platform/posix/PosixComPlatform.h"
#include "serial/platform/posix/PosixLastError.h"
#include "tests/serial/PtyPair.h"
#include "tests/support/ProgramRig.h"
#include "tests/support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;

const std::string FtdiId = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

// A /dev-like directory with terminals that open (links to pseudo-terminals) and names that do not, and a
// /sys-like tree that says what two USB adapters are.
class TDeviceFixture {
 public:
  TDeviceFixture() {
    const std::string root = scratch.Path();
    Roots.Dev = root + "/dev";
    Roots.Sys = root + "/sys";
    fs::create_directories(Roots.Dev + "/serial/by-id");
    fs::create_symlink(com1.SlavePath, Roots.Dev + "/ttyS0");         // COM1 opens
    WriteFileBytes(Roots.Dev + "/ttyS1", "");                          // COM2: no terminal
    fs::create_symlink(ftdi.SlavePath, Roots.Dev + "/ttyUSB0");       // an adapter with a stable name
    fs::create_symlink("../../ttyUSB0", Roots.Dev + "/serial/by-id/" + FtdiId);
    fs::create_symlink(prolific.SlavePath, Roots.Dev + "/ttyUSB1");   // one without
    WriteFileBytes(Roots.Dev + "/ttyUSB2", "");                        // not a terminal
    fs::create_symlink("/nonexistent/pts/9", Roots.Dev + "/ttyACM0");  // gone
    fs::create_symlink("../../ttyUSB7", Roots.Dev + "/serial/by-id/usb-Gone_Adapter-if00");

    UsbDevice("1-2", "ttyUSB0", {{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "FTDI"},
                                 {"product", "FT232R USB UART"}, {"serial", "A50285BI"}});
    UsbDevice("1-3", "ttyUSB1", {{"idVendor", "067b"}, {"idProduct", "2303"}});
  }

  TScratchDirectory scratch{false};
  TPtyPair com1, ftdi, prolific;
  TPosixDeviceRoots Roots;

  std::string Stable() const { return Roots.Dev + "/serial/by-id/" + FtdiId; }

 private:
  // The tty sits below the USB interface, which sits below the USB device carrying the strings.
  void UsbDevice(const std::string& bus, const std::string& tty,
                 std::vector<std::pair<std::string, std::string>> attributes) {
    const std::string device = Roots.Sys + "/devices/pci0000:00/0000:00:14.0/usb1/" + bus;
    const std::string port = device + "/" + bus + ":1.0/" + tty;
    fs::create_directories(port);
    for (auto& [name, value] : attributes) WriteFileBytes(device + "/" + name, value + "\n");
    fs::create_directories(Roots.Sys + "/class/tty/" + tty);
    fs::create_symlink("../../../devices/pci0000:00/0000:00:14.0/usb1/" + bus + "/" + bus + ":1.0/" + tty,
                       Roots.Sys + "/class/tty/" + tty + "/device");
  }
};

TEST(PortList, OnlyPortsThatOpenWithAdaptersUnderTheirStableNamesAndWhatTheyAre) {
  TDeviceFixture f;
  ASSERT_TRUE(f.com1.Valid() && f.ftdi.Valid() && f.prolific.Valid());
  TPosixComPlatform platform(f.Roots);
  const TPortListing ports = ProbeComPorts(platform);
  EXPECT_EQ(ports.Names, (std::vector<std::string>{"COM1", f.Stable(), f.Roots.Dev + "/ttyUSB1"}));
  EXPECT_EQ(ports.Descriptions,
            (std::vector<std::string>{"", "FTDI FT232R USB UART, S/N A50285BI", "USB 067b:2303"}));
  EXPECT_TRUE(ports.Denied.empty());
  // A name typed by hand is described the same way, whichever of its names it is.
  EXPECT_EQ(platform.PortDescription(f.Roots.Dev + "/ttyUSB0"), "FTDI FT232R USB UART, S/N A50285BI");
  EXPECT_EQ(platform.PortDescription("COM1"), "");
  // Probing leaves nothing open: the port itself can take each of them.
  for (const auto& name : ports.Names) {
    auto device = platform.CreateFile("\\\\.\\" + name, ComApi::GENERIC_READ | ComApi::GENERIC_WRITE, 0,
                                      ComApi::OPEN_EXISTING, ComApi::FILE_FLAG_OVERLAPPED);
    ASSERT_TRUE(device) << name << ": " << platform.GetLastError();
    device->CloseHandle();
  }
}

TEST(PortList, TheDropDownShowsWhatEachAdapterIsWhileTheEditTextStaysTheName) {
  TDeviceFixture f;
  TProgramRig rig;
  TPosixComPlatform platform(f.Roots);
  TForm8& form8 = *rig.Windows->Form8;
  QComboBox& box = *form8.ComboBox1;
  AddPortsToList(box, ProbeComPorts(platform));
  ASSERT_EQ(box.count(), 3);
  EXPECT_EQ(box.itemText(1).toStdString(), f.Stable());
  EXPECT_EQ(PortItemDescription(box, 1).toStdString(), "FTDI FT232R USB UART, S/N A50285BI");
  EXPECT_EQ(box.itemData(1, Qt::AccessibleDescriptionRole).toString(), PortItemDescription(box, 1));

  form8.show();
  box.setEditText("COM1");
  EXPECT_EQ(box.width(), 81) << "a short name keeps the design width";
  EXPECT_EQ(form8.width(), 191);
  box.setCurrentIndex(1);  // chosen from the drop-down
  EXPECT_EQ(box.currentText().toStdString(), f.Stable()) << "the edit text is the name alone";
  EXPECT_EQ(box.toolTip(), PortItemDescription(box, 1));
  // The long name reads whole: the box and its dialog have grown for it.
  const int textWidth = box.fontMetrics().horizontalAdvance(box.currentText());
  EXPECT_GT(box.width(), textWidth);
  EXPECT_LE(box.geometry().right(), form8.width());
  // The drop-down is wide enough for the name and the description together.
  EXPECT_GT(box.view()->minimumWidth(),
            textWidth + box.fontMetrics().horizontalAdvance(PortItemDescription(box, 1)));
  box.setEditText("COM3");
  EXPECT_EQ(box.width(), 81);
  EXPECT_EQ(form8.width(), 191);
}

// Every device exists, but the user is in none of the groups that may open them.
class TDeniedPlatform : public TPosixComPlatform {
 public:
  using TPosixComPlatform::TPosixComPlatform;
  std::unique_ptr<TComDevice> CreateFile(const std::string& path, uint32_t access, uint32_t shareMode,
                                         uint32_t creation, uint32_t flags) override {
    auto device = TPosixComPlatform::CreateFile(path, access, shareMode, creation, flags);
    if (!device) return nullptr;
    device->CloseHandle();
    SetPosixLastError(EACCES);
    return nullptr;
  }
};

TEST(PortList, AStartWherePermissionKeptEveryPortShutSaysSoAndWhatToDo) {
  TDeviceFixture f;
  TDeniedPlatform platform(f.Roots);
  const TPortListing ports = ProbeComPorts(platform);
  EXPECT_TRUE(ports.Names.empty());
  EXPECT_EQ(ports.Denied, (std::vector<std::string>{"COM1", f.Stable(), f.Roots.Dev + "/ttyUSB1"}));
  // The advice concerns the adapter the operator plugged in, not the first COM name refused.
  const std::string text = NoPortFoundText(ports, platform);
  const std::string expected = std::string(TextNoPortAccess) + "COM1, " + f.Stable() + ", " + f.Roots.Dev +
                               "/ttyUSB1.\r\nПорт " + f.Stable() + ": нет прав на доступ к устройству.";
  EXPECT_EQ(text.rfind(expected, 0), 0u) << text;
  EXPECT_NE(text.find("sudo usermod -aG "), std::string::npos) << text;
  EXPECT_EQ(NoPortFoundText(TPortListing{}, platform), TextNoPortFound);

  // At start, without "COM.ini": that text, and nothing written.
  TProgramRig rig;
  rig.Windows = std::make_unique<TApplicationWindows>(&platform);
  rig.Start();
  ASSERT_EQ(rig.Tk.Messages().size(), 1u);
  EXPECT_EQ(rig.Tk.Messages()[0].Text, text);
  EXPECT_FALSE(FileExists("COM.ini"));
}

}  // namespace
