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

// The text as an NSString, or nil when it is not valid UTF-8.
inline NSString* toNSString(std::string_view text) {
  return [[NSString alloc] initWithBytes:text.data()
                                  length:text.size()
                                encoding:NSUTF8StringEncoding];
}

// The UTF-8 spelling of the string; empty for nil. An unpaired surrogate,
// which has no UTF-8 spelling, comes out as a substitute character.
inline std::string toStdString(NSString* string) {
  NSData* bytes = [string dataUsingEncoding:NSUTF8StringEncoding allowLossyConversion:YES];
  if (bytes.length == 0) return {};
  return std::string(static_cast<const char*>(bytes.bytes), bytes.length);
}

// The file NSURL of the same path and directory mark, or nil when the path is
// not valid UTF-8.
inline NSURL* toNSURL(const FileURL& url) {
  NSString* path = toNSString(url.path());
  if (path == nil) return nil;
  return [NSURL fileURLWithPath:path isDirectory:url.hasDirectoryPath()];
}

// The FileURL of a file NSURL, taken from its path and keeping its directory
// mark; nothing for nil or for a URL that does not name a file.
inline std::optional<FileURL> toFileURL(NSURL* url) {
  if (url == nil || !url.isFileURL || url.path == nil) return std::nullopt;
  return FileURL::fileURLWithPath(toStdString(url.path), url.hasDirectoryPath);
}

}  // namespace uk::platform
