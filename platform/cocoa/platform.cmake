# The macOS platform: Foundation and AppKit, from Objective-C++ with ARC.
enable_language(OBJCXX)

# The deployment target is a cache variable set before project() in the
# top-level CMakeLists.txt, and Info.plist.in states it as the minimum; here
# only its floor is enforced: NSButton's setHasDestructiveAction: arrived in
# 11.0.
if(CMAKE_OSX_DEPLOYMENT_TARGET VERSION_LESS 11.0)
  message(FATAL_ERROR
    "CMAKE_OSX_DEPLOYMENT_TARGET is '${CMAKE_OSX_DEPLOYMENT_TARGET}'; the program needs 11.0 or later")
endif()

# NSApplication's activate, called where macOS 14 runs, is declared only in
# the macOS 14 SDK (Xcode 15): an older SDK would stop the build at alert.mm
# with an unknown selector, so the configure says so first. An SDK that does
# not state its version (SDKSettings.json) is left to the compiler.
set(_uk_sdk_settings "${CMAKE_OSX_SYSROOT}/SDKSettings.json")
if(CMAKE_OSX_SYSROOT AND EXISTS "${_uk_sdk_settings}")
  file(READ "${_uk_sdk_settings}" _uk_sdk_json)
  string(JSON _uk_sdk_version ERROR_VARIABLE _uk_sdk_error GET "${_uk_sdk_json}" Version)
  if(NOT _uk_sdk_error AND _uk_sdk_version VERSION_LESS 14.0)
    message(FATAL_ERROR
      "The macOS SDK at ${CMAKE_OSX_SYSROOT} is ${_uk_sdk_version}; the program needs the macOS 14 SDK "
      "or later (Xcode 15 or later)")
  endif()
endif()

find_library(UK_FOUNDATION Foundation REQUIRED)
find_library(UK_APPKIT AppKit REQUIRED)

include(${CMAKE_CURRENT_LIST_DIR}/sources.cmake)

# ARC belongs to each Objective-C++ file itself. An OBJCXX-only option on a
# target that also holds C++ files is lost under the Xcode generator, which
# builds such a target's flags from its C++ options, and the files would then
# compile without ARC and leak every object.
set_source_files_properties(${UK_COCOA_SOURCES} PROPERTIES COMPILE_OPTIONS -fobjc-arc)

# Pure functions of their input (text equality, property-list parsing): the
# logic tests use these real ones beside the fake.
add_library(uk_platform_pure STATIC ${UK_COCOA_PURE_SOURCES})
target_link_libraries(uk_platform_pure PUBLIC uk_platform_values uk_property_list_guard
  ${UK_FOUNDATION})

# Everything that touches the system: files, the trash, processes, alerts. The
# bounded file read, the item attributes, the child processes and the
# kernel's spelling of a folder are the portable POSIX ones, as on Linux.
add_library(uk_platform STATIC ${UK_COCOA_SYSTEM_SOURCES} ${UK_POSIX_SOURCES})
target_link_libraries(uk_platform PUBLIC uk_platform_values uk_platform_pure ${UK_FOUNDATION}
  ${UK_APPKIT})

# The program is an application bundle, UninstallKellix.app, with its own
# Info.plist. The target is made after this file is read, so its bundle
# settings are applied once the top-level directory is done.
function(uk_make_application_bundle)
  set_target_properties(UninstallKellix PROPERTIES
    MACOSX_BUNDLE ON
    MACOSX_BUNDLE_INFO_PLIST ${PROJECT_SOURCE_DIR}/platform/cocoa/Info.plist.in)
endfunction()
cmake_language(DEFER CALL uk_make_application_bundle)
