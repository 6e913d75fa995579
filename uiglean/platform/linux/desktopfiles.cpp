#include "uiglean/platform/linux/desktopfiles.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>

#include "uiglean/platform/linux/strings.h"

namespace uiglean::lx {

namespace {

std::string trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> dataDirs() {
  std::vector<std::string> dirs;
  const char* home = std::getenv("XDG_DATA_HOME");
  if (home != nullptr && *home == '/') {
    dirs.emplace_back(home);
  } else if (const char* h = std::getenv("HOME"); h != nullptr && *h == '/') {
    dirs.push_back(std::string(h) + "/.local/share");
  }
  const char* list = std::getenv("XDG_DATA_DIRS");
  std::string all = (list != nullptr && *list != '\0') ? list : "/usr/local/share:/usr/share";
  std::stringstream ss(all);
  std::string d;
  while (std::getline(ss, d, ':')) {
    if (!d.empty() && d[0] == '/') dirs.push_back(d);
  }
  return dirs;
}

}  // namespace

std::optional<DesktopEntry> parseDesktopEntry(const std::string& text) {
  std::stringstream ss(text);
  std::string line;
  bool inGroup = false, seen = false;
  DesktopEntry e;
  while (std::getline(ss, line)) {
    std::string t = trim(line);
    if (t.empty() || t[0] == '#') continue;
    if (t[0] == '[') {
      inGroup = t == "[Desktop Entry]";
      seen = seen || inGroup;
      continue;
    }
    if (!inGroup) continue;
    std::size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    std::string key = trim(t.substr(0, eq));
    std::string value = trim(t.substr(eq + 1));
    if (key == "Name") {
      e.name = value;
    } else if (key == "Exec") {
      e.exec = value;
    } else if (key == "StartupWMClass") {
      e.startupWMClass = value;
    } else if (key == "Hidden") {
      e.hidden = value == "true";
    } else if (key == "NoDisplay") {
      e.noDisplay = value == "true";
    } else if (key == "Type") {
      e.isApplication = value == "Application";
    }
  }
  if (!seen) return std::nullopt;
  return e;
}

std::optional<DesktopEntry> readDesktopFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  char buf[4096];
  // A desktop file is small; a huge one is not read past its first megabyte.
  while (in && text.size() < (1U << 20)) {
    in.read(buf, sizeof buf);
    text.append(buf, static_cast<std::size_t>(in.gcount()));
  }
  return parseDesktopEntry(text);
}

namespace {

struct InstalledEntries {
  std::vector<DesktopEntry> entries;
  bool read = false;
  bool recheck = false;
  // The folders read and when each last changed: an installation or removal changes its folder.
  std::vector<std::pair<std::string, std::int64_t>> folders;
};

InstalledEntries& installed() {
  static InstalledEntries i;
  return i;
}

std::vector<std::pair<std::string, std::int64_t>> applicationFolders() {
  std::vector<std::pair<std::string, std::int64_t>> out;
  for (const auto& dir : dataDirs()) {
    std::string root = dir + "/applications";
    struct stat st {};
    std::int64_t changed = -1;
    if (::stat(root.c_str(), &st) == 0) {
      changed = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    }
    out.emplace_back(root, changed);
  }
  return out;
}

}  // namespace

void recheckDesktopEntries() { installed().recheck = true; }

const std::vector<DesktopEntry>& desktopEntries() {
  InstalledEntries& in = installed();
  if (in.read && in.recheck) {
    in.recheck = false;
    if (applicationFolders() != in.folders) in.read = false;
  }
  if (in.read) return in.entries;
  in.read = true;
  in.recheck = false;
  in.folders = applicationFolders();
  std::vector<DesktopEntry>& entries = in.entries;
  entries.clear();
  std::set<std::string> ids;
  namespace fs = std::filesystem;
  for (const auto& dir : dataDirs()) {
    fs::path root = fs::path(dir) / "applications";
    std::error_code ec;
    if (!fs::is_directory(root, ec)) continue;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it.depth() > 4) it.disable_recursion_pending();
      const fs::path& p = it->path();
      if (p.extension() != ".desktop" || !it->is_regular_file(ec)) continue;
      // The path below the folder, as the iterator built it (no symbolic link resolved: that
      // would cost a system call per component of every file).
      std::string full = p.string();
      std::string prefix = root.string() + "/";
      if (full.compare(0, prefix.size(), prefix) != 0) continue;
      std::string rel = full.substr(prefix.size());
      rel = rel.substr(0, rel.size() - 8);
      for (char& c : rel) {
        if (c == '/') c = '-';
      }
      if (!ids.insert(rel).second) continue;
      auto entry = readDesktopFile(p.string());
      if (!entry) continue;
      entry->id = rel;
      entry->path = p.string();
      entries.push_back(std::move(*entry));
    }
  }
  return entries;
}

namespace {

// The general escapes of a desktop entry string value.
std::string unescapeValue(const std::string& v) {
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '\\' || i + 1 == v.size()) {
      out += v[i];
      continue;
    }
    char n = v[++i];
    switch (n) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        // Not a value escape: kept for the Exec quoting rules.
        out += '\\';
        out += n;
    }
  }
  return out;
}

bool isFieldCode(char c) {
  return std::string_view("fFuUdDnNickvm").find(c) != std::string_view::npos;
}

std::string programName(const std::string& exec) {
  auto args = execArguments(exec);
  if (!args || args->empty()) return "";
  const std::string& first = args->front();
  std::size_t slash = first.rfind('/');
  return slash == std::string::npos ? first : first.substr(slash + 1);
}

}  // namespace

std::optional<std::vector<std::string>> execArguments(const std::string& exec) {
  std::string line = unescapeValue(exec);
  std::vector<std::string> args;
  std::string cur;
  bool inWord = false, onlyCode = true, hadCode = false;
  auto finish = [&]() {
    if (inWord && !(onlyCode && hadCode && cur.empty())) args.push_back(cur);
    cur.clear();
    inWord = false;
    onlyCode = true;
    hadCode = false;
  };
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      finish();
      continue;
    }
    inWord = true;
    if (c == '"') {
      onlyCode = false;
      bool closed = false;
      for (++i; i < line.size(); ++i) {
        char q = line[i];
        if (q == '"') {
          closed = true;
          break;
        }
        if (q == '%' && i + 1 < line.size() && line[i + 1] == '%') {
          cur += '%';
          ++i;
          continue;
        }
        if (q == '\\' && i + 1 < line.size() &&
            std::string_view("\"`$\\").find(line[i + 1]) != std::string_view::npos) {
          cur += line[++i];
          continue;
        }
        cur += q;
      }
      if (!closed) return std::nullopt;
      continue;
    }
    if (c == '%' && i + 1 < line.size()) {
      char code = line[i + 1];
      if (code == '%') {
        cur += '%';
        onlyCode = false;
        ++i;
        continue;
      }
      if (isFieldCode(code)) {
        hadCode = true;
        ++i;
        continue;
      }
      return std::nullopt;  // an unknown field code
    }
    // Reserved characters must be quoted.
    if (std::string_view("\t'><~|&;$*?#()`\\").find(c) != std::string_view::npos)
      return std::nullopt;
    cur += c;
    onlyCode = false;
  }
  finish();
  if (args.empty()) return std::nullopt;
  return args;
}

const DesktopEntry* launchableEntry(const std::string& query) {
  const auto& entries = desktopEntries();
  auto launchable = [](const DesktopEntry& e) {
    return e.isApplication && !e.hidden && !e.exec.empty();
  };
  for (const auto& e : entries) {
    if (e.id == query && launchable(e)) return &e;
  }
  for (const auto& e : entries) {
    if (!launchable(e) || e.noDisplay) continue;
    if ((!e.name.empty() && equalsIgnoringAsciiCase(e.name, query)) ||
        equalsIgnoringAsciiCase(programName(e.exec), query)) {
      return &e;
    }
  }
  return nullptr;
}

bool launchDetached(const std::vector<std::string>& argv, const std::string& desktopFile) {
  if (argv.empty() || argv[0].empty()) return false;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // Double fork: the intermediate child starts a new session and exits, so the program is
  // adopted by init and never waits on us; its output goes nowhere near ours.
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::setsid();
    int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, 0);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
      if (devnull > 2) ::close(devnull);
    }
    pid_t grandchild = ::fork();
    if (grandchild == 0) {
      if (!desktopFile.empty()) {
        // This process is single-threaded: setting the environment between fork and exec is safe.
        ::setenv("GIO_LAUNCHED_DESKTOP_FILE", desktopFile.c_str(), 1);
        ::setenv("GIO_LAUNCHED_DESKTOP_FILE_PID", std::to_string(::getpid()).c_str(), 1);
      } else {
        ::unsetenv("GIO_LAUNCHED_DESKTOP_FILE");
        ::unsetenv("GIO_LAUNCHED_DESKTOP_FILE_PID");
      }
      ::execvp(args[0], args.data());
      ::_exit(127);
    }
    ::_exit(grandchild < 0 ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace uiglean::lx
