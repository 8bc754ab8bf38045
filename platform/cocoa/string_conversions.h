#pragma once

// Conversions between the seam's UTF-8 texts and Foundation's strings, and
// between FileURL and NSURL (spelt through their path texts). Objective-C++
// only: the Cocoa platform files include this, nothing else does.

#import <Foundation/Foundation.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/file_url.h"

namespace uk::platform {

// The text as an NSString with exactly its characters, or nil when it is not
// valid UTF-8, holds NUL, or would not convert exactly: Foundation's UTF-8
// decoding drops a leading byte order mark, so the lengths are compared.
inline NSString* toNSString(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return nil;
  NSString* string = [[NSString alloc] initWithBytes:text.data()
                                              length:text.size()
                                            encoding:NSUTF8StringEncoding];
  if (string == nil || [string lengthOfBytesUsingEncoding:NSUTF8StringEncoding] != text.size()) {
    return nil;
  }
  return string;
}

// The UTF-8 spelling of the string; nothing for nil, for a string that holds
// NUL, and for one with no exact UTF-8 spelling (an unpaired surrogate): the
// spelling must convert back to an equal string, character for character.
inline std::optional<std::string> toStdString(NSString* string) {
  if (string == nil) return std::nullopt;
  NSData* bytes = [string dataUsingEncoding:NSUTF8StringEncoding allowLossyConversion:NO];
  if (bytes == nil) return std::nullopt;
  std::string text(static_cast<const char*>(bytes.bytes), bytes.length);
  NSString* back = toNSString(text);
  if (back == nil || ![back isEqualToString:string]) return std::nullopt;
  return text;
}

// The file NSURL of the same path and directory mark, or nil when the path is
// not valid UTF-8.
inline NSURL* toNSURL(const FileURL& url) {
  NSString* path = toNSString(url.path());
  if (path == nil) return nil;
  return [NSURL fileURLWithPath:path isDirectory:url.hasDirectoryPath()];
}

// The FileURL of a file NSURL, taken from its path and keeping its directory
// mark; nothing for nil, for a URL that does not name a file, and for a path
// that does not convert exactly.
inline std::optional<FileURL> toFileURL(NSURL* url) {
  if (url == nil || !url.isFileURL) return std::nullopt;
  std::optional<std::string> path = toStdString(url.path);
  if (!path) return std::nullopt;
  return FileURL::fileURLWithPath(*path, url.hasDirectoryPath);
}

}  // namespace uk::platform
