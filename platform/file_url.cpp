#include "platform/file_url.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace uk::platform {
namespace {

std::string collapseSeparators(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(c);
  }
  return out;
}

std::string currentDirectory() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return "/";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

}  // namespace

FileURL FileURL::fileURLWithPath(std::string_view path, bool isDirectory) {
  std::string text;
  if (path.empty() || path.front() != '/') {
    text = currentDirectory();
    text += '/';
  }
  text += path;
  text = collapseSeparators(text);
  if (text.size() > 1 && text.back() == '/') text.pop_back();
  if (isDirectory && text.back() != '/') text += '/';
  return FileURL(std::move(text));
}

FileURL FileURL::appendingPathComponent(std::string_view component, bool isDirectory) const {
  if (component.empty()) return *this;
  std::string text = text_;
  if (text.back() != '/') text += '/';
  text += component;
  text = collapseSeparators(text);
  if (text.size() > 1 && text.back() == '/') text.pop_back();
  if (isDirectory && text.back() != '/') text += '/';
  return FileURL(std::move(text));
}

FileURL FileURL::appendingPathComponent(std::string_view component) const {
  return appendingPathComponent(component, false);
}

FileURL FileURL::deletingLastPathComponent() const {
  std::string p = path();
  if (p == "/") return FileURL("/");
  std::size_t slash = p.rfind('/');
  p.erase(slash + 1);
  return FileURL(std::move(p));
}

FileURL FileURL::standardizedFileURL() const {
  std::vector<std::string_view> parts;
  std::string_view rest = text_;
  while (!rest.empty()) {
    std::size_t slash = rest.find('/');
    std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string text = "/";
  for (std::string_view part : parts) {
    text += part;
    text += '/';
  }
  if (!hasDirectoryPath() && text.size() > 1) text.pop_back();
  return FileURL(std::move(text));
}

std::string FileURL::path() const {
  if (text_.size() > 1 && text_.back() == '/') return text_.substr(0, text_.size() - 1);
  return text_;
}

bool FileURL::hasDirectoryPath() const { return text_.back() == '/'; }

}  // namespace uk::platform
