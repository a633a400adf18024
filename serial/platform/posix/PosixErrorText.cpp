#include "serial/platform/posix/PosixErrorText.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

namespace {

std::string UserName() {
  if (const passwd* entry = getpwuid(geteuid())) return entry->pw_name;
  if (const char* user = getenv("USER")) return user;
  return "$USER";
}

// The groups the user belongs to as the system's account files say, which a new login takes up.
bool ConfiguredMember(const std::string& user, gid_t group) {
  const passwd* entry = getpwnam(user.c_str());
  if (!entry) return false;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (getgrouplist(user.c_str(), entry->pw_gid, groups.data(), &count) < 0) {
    groups.resize(size_t(count));
    if (getgrouplist(user.c_str(), entry->pw_gid, groups.data(), &count) < 0) return false;
  }
  groups.resize(size_t(count));
  return std::find(groups.begin(), groups.end(), group) != groups.end();
}

// The groups this process runs with, fixed at login.
bool CurrentMember(gid_t group) {
  if (getegid() == group) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

std::string Quoted(const std::string& text) { return "«" + text + "»"; }

// "(errno: 13, EACCES)": the number as the system has it, after the code's own text.
std::string ErrnoSuffix(int error) {
  const char* symbol = strerrorname_np(error);
  return " (errno: " + std::to_string(error) + (symbol ? std::string(", ") + symbol : "") + ")";
}

std::string SystemWords(int error) { return "системная ошибка «" + std::system_category().message(error) + "»"; }

}  // namespace

std::string PermissionAdvice(const std::string& devicePath) {
  const std::string user = UserName();
  struct stat st {};
  const group* owner = ::stat(devicePath.c_str(), &st) == 0 ? getgrgid(st.st_gid) : nullptr;
  if (!owner || st.st_gid == 0) {
    // Only the administrator's group may use it: joining that group is no advice to give.
    return "Устройство доступно только администратору. Попросите администратора передать его группе "
           "«dialout»\r\n(правилом udev), затем добавьте в неё своего пользователя командой\r\n"
           "sudo usermod -aG dialout " + user + "\r\nи войдите в систему заново.";
  }
  const std::string name = owner->gr_name;
  if (CurrentMember(st.st_gid))
    return "Устройство принадлежит группе " + Quoted(name) +
           ", в которой вы уже состоите, но права устройства не дают этой группе доступа.\r\n"
           "Проверьте их командой ls -l " + devicePath + ".";
  if (ConfiguredMember(user, st.st_gid))
    return "Пользователь " + user + " уже добавлен в группу " + Quoted(name) +
           ", но права вступят в силу только после нового входа.\r\nВыйдите из системы и войдите заново.";
  return "Устройство принадлежит группе " + Quoted(name) + ". Добавьте в неё своего пользователя командой\r\n"
         "sudo usermod -aG " + name + " " + user + "\r\nи войдите в систему заново.";
}

TSystemErrorText PosixErrorText(const std::string& portName, const std::string& devicePath, int error) {
  TSystemErrorText text;
  text.Suffix = ErrnoSuffix(error);

  if (devicePath.empty()) {
    text.Explanation = "Порт " + portName + ": такого порта нет. Имя порта — COM1…COM256 или путь к "
                       "устройству,\r\nнапример /dev/ttyUSB0.";
    return text;
  }
  const std::string port =
      "Порт " + portName + (devicePath != portName ? " (" + devicePath + ")" : std::string());
  switch (error) {
    case EACCES:
    case EPERM:
      text.Explanation = port + ": нет прав на доступ к устройству.\r\n" + PermissionAdvice(devicePath);
      break;
    case ENOENT:
      text.Explanation = port + ": устройство не найдено. Проверьте, подключён ли адаптер,\r\n"
                                "или выберите другой порт: «Общие настройки» → «Выбор Com-порта».";
      break;
    case EBUSY:
      text.Explanation = port + " уже открыт другой программой. Закройте её и попробуйте снова.";
      break;
    case EIO:
      text.Explanation = port + ": ошибка ввода-вывода. Устройство отключено или неисправно:\r\n"
                                "адаптер вынут из компьютера или другой конец линии закрыт.";
      break;
    case ENXIO:
    case ENODEV:
      text.Explanation = port + ": устройства нет — адаптер отключён или не работает.";
      break;
    case ENOTTY:
    case EISDIR:
      text.Explanation = port + ": это не последовательный порт.";
      break;
    case EINVAL:
      text.Explanation = port + ": устройство не принимает нужные настройки линии.";
      break;
    case ENAMETOOLONG:
    case ENOTDIR:
    case ELOOP:
      text.Explanation = port + ": путь к устройству задан неверно.";
      break;
    default:
      text.Explanation = port + ": " + SystemWords(error) + ".";
      break;
  }
  return text;
}

TSystemErrorText PosixNetErrorText(const std::string& portName, int error) {
  TSystemErrorText text;
  text.Suffix = ErrnoSuffix(error);
  const std::string server = "Сервер порта " + portName;
  switch (error) {
    case ECONNREFUSED:
      text.Explanation =
          server + " отказал в соединении.\r\nПроверьте адрес, номер порта TCP и что служба сервера запущена.";
      break;
    case ETIMEDOUT:
      text.Explanation = server + " не ответил вовремя.\r\nПроверьте адрес, сеть и питание сервера.";
      break;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
      text.Explanation = server + " недоступен по сети. Проверьте адрес и подключение к сети.";
      break;
    case ENXIO:
      text.Explanation = server + ": такого адреса в сети нет. Проверьте имя сервера.";
      break;
    case ECONNRESET:
    case EPIPE:
    case EIO:
      text.Explanation = server + " разорвал соединение.";
      break;
    case EINVAL:
      text.Explanation = "Порт " + portName + ": имя задано неверно. Имя сервера порта —\r\n"
                         "tcp://АДРЕС:ПОРТ или rfc2217://АДРЕС:ПОРТ.";
      break;
    default:
      text.Explanation = "Порт " + portName + ": " + SystemWords(error) + ".";
      break;
  }
  return text;
}
