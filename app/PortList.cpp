#include "app/PortList.h"

#include "serial/platform/ComPlatform.h"

const char* const TextNoPortFound =
    "Не найден ни один COM-порт.\r\n"
    "Подключите адаптер последовательного порта и запустите программу снова\r\n"
    "или укажите порт в меню «Общие настройки» → «Выбор Com-порта».";
const char* const TextNoPortAccess =
    "Не найден ни один COM-порт, который программа может открыть: нет прав на доступ к ";

namespace {
// Returns the system's error when the port exists but the user may not open it, else 0. The device
// namespace prefix is what lets COM10 open at all on Windows.
uint32_t Probe(TComPlatform& platform, const std::string& name, TPortListing& ports) {
  auto device = platform.CreateFile("\\\\.\\" + name, ComApi::GENERIC_READ, 0, ComApi::OPEN_EXISTING, 0);
  if (!device) {
    const uint32_t error = platform.GetLastError();
    if (!platform.AccessDenied(error)) return 0;
    ports.Denied.push_back(name);
    return error;
  }
  device->CloseHandle();
  ports.Names.push_back(name);
  ports.Descriptions.push_back(platform.PortDescription(name));
  return 0;
}
}  // namespace

TPortListing ProbeComPorts(TComPlatform& platform) {
  TPortListing ports;
  auto explain = [&ports](const std::string& name, uint32_t error) {
    ports.Explained = name;
    ports.DeniedError = error;
  };
  for (int n = 1; n <= 10; ++n) {
    const std::string name = "COM" + std::to_string(n);
    const uint32_t error = Probe(platform, name, ports);
    if (error && ports.Explained.empty()) explain(name, error);
  }
  bool adapterExplained = false;
  for (auto& name : platform.AdapterPortNames()) {
    const uint32_t error = Probe(platform, name, ports);
    if (error && !adapterExplained) {
      explain(name, error);
      adapterExplained = true;
    }
  }
  return ports;
}

std::vector<std::string> ListComPorts(TComPlatform& platform) { return ProbeComPorts(platform).Names; }

std::string NoPortFoundText(const TPortListing& ports, TComPlatform& platform) {
  if (ports.Denied.empty()) return TextNoPortFound;
  std::string names;
  for (const auto& name : ports.Denied) names += (names.empty() ? "" : ", ") + name;
  std::string text = std::string(TextNoPortAccess) + names + ".";
  const std::string explanation = platform.DescribeError(ports.Explained, ports.DeniedError).Explanation;
  if (!explanation.empty()) text += "\r\n" + explanation;
  return text;
}
