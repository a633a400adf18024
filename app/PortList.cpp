#include "app/PortList.h"

#include "serial/platform/ComPlatform.h"

const char* const TextNoPortFound =
    "Не найден ни один COM-порт.\r\n"
    "Подключите адаптер последовательного порта и запустите программу снова\r\n"
    "или укажите порт в меню «Общие настройки» → «Выбор Com-порта».";
const char* const TextNoPortAccess =
    "Не найден ни один COM-порт, который программа может открыть: нет прав на доступ к ";

namespace {
// The device namespace prefix is what lets COM10 open at all on Windows.
void Probe(TComPlatform& platform, const std::string& name, TPortListing& ports) {
  auto device = platform.CreateFile("\\\\.\\" + name, ComApi::GENERIC_READ, 0, ComApi::OPEN_EXISTING, 0);
  if (!device) {
    const uint32_t error = platform.GetLastError();
    if (platform.AccessDenied(error)) {
      if (ports.Denied.empty()) ports.DeniedError = error;
      ports.Denied.push_back(name);
    }
    return;
  }
  device->CloseHandle();
  ports.Names.push_back(name);
  ports.Descriptions.push_back(platform.PortDescription(name));
}
}  // namespace

TPortListing ProbeComPorts(TComPlatform& platform) {
  TPortListing ports;
  for (int n = 1; n <= 10; ++n) Probe(platform, "COM" + std::to_string(n), ports);
  for (auto& name : platform.AdapterPortNames()) Probe(platform, name, ports);
  return ports;
}

std::vector<std::string> ListComPorts(TComPlatform& platform) { return ProbeComPorts(platform).Names; }

std::string NoPortFoundText(const TPortListing& ports, TComPlatform& platform) {
  if (ports.Denied.empty()) return TextNoPortFound;
  std::string names;
  for (const auto& name : ports.Denied) names += (names.empty() ? "" : ", ") + name;
  std::string text = std::string(TextNoPortAccess) + names + ".";
  const std::string explanation = platform.DescribeError(ports.Denied.front(), ports.DeniedError).Explanation;
  if (!explanation.empty()) text += "\r\n" + explanation;
  return text;
}
