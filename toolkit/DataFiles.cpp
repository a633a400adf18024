#include "toolkit/DataFiles.h"

namespace {
std::vector<std::string> fallbacks;
}

void SetDataFileFallbacks(std::vector<std::string> directories) { fallbacks = std::move(directories); }

#ifdef _WIN32

std::string ResolveDataFile(const std::string& name) { return name; }

#else

#include <dirent.h>
#include <sys/stat.h>

#include <optional>

namespace {

std::vector<std::string> SplitName(const std::string& name) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : name) {
    if (c == '/' || c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

bool Exists(const std::string& path, bool wantDirectory) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return !wantDirectory || S_ISDIR(st.st_mode);
}

bool SameIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return i == a.size() && b[i] == '\0';
}

std::string Join(const std::string& directory, const std::string& part) {
  if (directory.empty()) return part;
  if (directory == "/") return "/" + part;
  return directory + "/" + part;
}

// The entry of `directory` that is `part` without regard to case, if there is one of the wanted kind.
std::optional<std::string> FindIgnoringCase(const std::string& directory, const std::string& part,
                                            bool wantDirectory) {
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (!dir) return std::nullopt;
  std::optional<std::string> best;
  while (const dirent* entry = ::readdir(dir)) {
    if (!SameIgnoringCase(part, entry->d_name)) continue;
    std::string candidate = entry->d_name;
    if (best && candidate >= *best) continue;
    if (Exists(Join(directory, candidate), wantDirectory)) best = candidate;
  }
  ::closedir(dir);
  return best;
}

// `parts` looked up under `base` ("" for the working directory); with `folderFound` false when its first
// folder is not there.
std::string ResolveUnder(const std::string& base, const std::vector<std::string>& parts, bool* folderFound) {
  std::string path = base;
  bool matching = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    const std::string& part = parts[i];
    std::string chosen = part;
    if (matching && !Exists(Join(path, part), !last)) {
      if (std::optional<std::string> found = FindIgnoringCase(path, part, !last))
        chosen = *found;
      else
        matching = false;
    }
    if (i == 0 && folderFound) *folderFound = matching;
    path = Join(path, chosen);
  }
  return path;
}

}  // namespace

std::string ResolveDataFile(const std::string& name) {
  const std::vector<std::string> parts = SplitName(name);
  const bool absolute = !name.empty() && (name[0] == '/' || name[0] == '\\');
  bool folderFound = true;
  const std::string path = ResolveUnder(absolute ? "/" : "", parts, &folderFound);
  if (!absolute && !folderFound && parts.size() > 1) {
    for (const auto& base : fallbacks) {
      bool found = false;
      const std::string candidate = ResolveUnder(base, parts, &found);
      if (found) return candidate;
    }
  }
  return path.empty() ? name : path;
}

#endif
