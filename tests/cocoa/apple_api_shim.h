// Included only by the Linux type check of platform/cocoa: declares the Apple
// APIs that the platform files call and GNUstep's Foundation and AppKit
// headers lack, each with the types Apple's SDK gives it (availability and
// nullability annotations left out). Everything else is checked against
// GNUstep's own declarations.

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

// macOS 10.12: the alert styles' current names.
enum : NSAlertStyle {
  NSAlertStyleWarning = 0,
  NSAlertStyleInformational = 1,
  NSAlertStyleCritical = 2,
};

@interface NSApplication (UKAppleAPI)
// macOS 10.6.
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
// macOS 14.0.
- (void)activate;
@end

// macOS 11.0.
@interface NSButton (UKAppleAPI)
@property BOOL hasDestructiveAction;
@end

@interface NSFileManager (UKAppleAPI)
// macOS 10.12.
@property(readonly, copy) NSURL* homeDirectoryForCurrentUser;
// macOS 10.8.
- (BOOL)trashItemAtURL:(NSURL*)url resultingItemURL:(NSURL**)outResultingURL error:(NSError**)error;
@end

// macOS 10.11.
@interface NSURL (UKAppleAPI)
@property(readonly) BOOL hasDirectoryPath;
@end

// Darwin's own posix_spawn extensions (<spawn.h>, macOS 10.7), which glibc
// lacks; the flag's value is the SDK's.
#include <spawn.h>
#define POSIX_SPAWN_CLOEXEC_DEFAULT 0x4000
extern "C" int posix_spawn_file_actions_addinherit_np(posix_spawn_file_actions_t* actions, int fd);
