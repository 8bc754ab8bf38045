# The Linux platform: GLib/GIO, libplist and GTK 3.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0 gio-2.0)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(GTK REQUIRED IMPORTED_TARGET gtk+-3.0)
# Xlib itself, for the handler of a lost display connection.
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)

# Pure functions of their input (text equality, property-list parsing): the
# logic tests use these real ones beside the fake.
file(GLOB UK_PLATFORM_PURE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/text*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/property_list*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/plist*.cpp)
add_library(uk_platform_pure STATIC ${UK_PLATFORM_PURE_SOURCES})
target_link_libraries(uk_platform_pure PUBLIC uk_platform_values PkgConfig::GLIB PkgConfig::PLIST)

# Everything that touches the system: files, the trash, processes, alerts.
file(GLOB UK_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/posix/*.cpp)
list(REMOVE_ITEM UK_PLATFORM_SOURCES ${UK_PLATFORM_PURE_SOURCES})
add_library(uk_platform STATIC ${UK_PLATFORM_SOURCES})
target_link_libraries(uk_platform PUBLIC uk_platform_values uk_platform_pure PkgConfig::GLIB PkgConfig::GTK
  PkgConfig::X11)
