#pragma once

#include <string>
#include <string_view>

namespace uk::platform {

// An absolute location in the file system, kept as its path text plus a
// directory mark (a trailing "/"), the way a file URL spells it. Two values
// are equal when their texts match character for character, so a directory
// URL and a plain URL for the same path differ, as they do on the Mac.
class FileURL {
 public:
  // Makes a URL from a path. A relative path is taken against the current
  // working directory; repeated separators collapse into one. Nothing on disk
  // is consulted.
  static FileURL fileURLWithPath(std::string_view path, bool isDirectory);

  // Appends one component. The plain form leaves the result without the
  // directory mark. An empty component gives the URL unchanged.
  FileURL appendingPathComponent(std::string_view component, bool isDirectory) const;
  FileURL appendingPathComponent(std::string_view component) const;

  // The folder that holds this item, marked as a directory; "/" for "/".
  FileURL deletingLastPathComponent() const;

  // The same place with "." and ".." components resolved lexically
  // (symbolic links are not followed). The directory mark is kept.
  FileURL standardizedFileURL() const;

  // Absolute path text, not percent-encoded, with no trailing separator
  // except for the root itself.
  std::string path() const;

  bool hasDirectoryPath() const;

  friend bool operator==(const FileURL&, const FileURL&) = default;

 private:
  explicit FileURL(std::string text) : text_(std::move(text)) {}

  // The path, ending in "/" exactly when the URL is marked as a directory.
  std::string text_;
};

}  // namespace uk::platform
