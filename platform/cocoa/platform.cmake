# The macOS platform: Foundation and AppKit, from Objective-C++ with ARC.
enable_language(OBJCXX)

# The oldest macOS with every call we make (NSButton's setHasDestructiveAction:
# arrived in 11.0); Info.plist.in states the same minimum.
if(NOT CMAKE_OSX_DEPLOYMENT_TARGET)
  set(CMAKE_OSX_DEPLOYMENT_TARGET 11.0)
endif()

find_library(UK_FOUNDATION Foundation REQUIRED)
find_library(UK_APPKIT AppKit REQUIRED)

# Pure functions of their input (text equality, property-list parsing): the
# logic tests use these real ones beside the fake.
add_library(uk_platform_pure STATIC
  ${CMAKE_CURRENT_LIST_DIR}/text.mm
  ${CMAKE_CURRENT_LIST_DIR}/property_list.mm)
target_link_libraries(uk_platform_pure PUBLIC uk_platform_values ${UK_FOUNDATION})

# Everything that touches the system: files, the trash, processes, alerts. The
# bounded file read is the portable POSIX one, as on Linux.
file(GLOB UK_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.mm
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/posix/*.cpp)
list(REMOVE_ITEM UK_PLATFORM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/text.mm
  ${CMAKE_CURRENT_LIST_DIR}/property_list.mm)
add_library(uk_platform STATIC ${UK_PLATFORM_SOURCES})
target_link_libraries(uk_platform PUBLIC uk_platform_values uk_platform_pure ${UK_FOUNDATION}
  ${UK_APPKIT})

foreach(library uk_platform_pure uk_platform)
  target_compile_options(${library} PRIVATE $<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>)
endforeach()

# The program is an application bundle, UninstallKellix.app, with its own
# Info.plist. The target is made after this file is read, so its bundle
# settings are applied once the top-level directory is done.
function(uk_make_application_bundle)
  set_target_properties(UninstallKellix PROPERTIES
    MACOSX_BUNDLE ON
    MACOSX_BUNDLE_INFO_PLIST ${PROJECT_SOURCE_DIR}/platform/cocoa/Info.plist.in)
endfunction()
cmake_language(DEFER CALL uk_make_application_bundle)
