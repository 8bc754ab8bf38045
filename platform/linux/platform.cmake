# The Linux platform: GLib/GIO, libplist and GTK 3.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0 gio-2.0)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(GTK REQUIRED IMPORTED_TARGET gtk+-3.0)
# Xlib itself, for the handler of a lost display connection.
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)

# Pure functions of their input (text equality, property-list parsing): the
# logic tests use these real ones beside the fake.
add_library(uk_platform_pure STATIC
  ${CMAKE_CURRENT_LIST_DIR}/text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/property_list.cpp)
target_link_libraries(uk_platform_pure PUBLIC uk_platform_values uk_property_list_guard
  PkgConfig::GLIB PkgConfig::PLIST)

# Everything that touches the system: files, the trash, processes, alerts. The
# bounded file read, the item attributes and the child processes are the
# portable POSIX ones, shared with the Mac.
add_library(uk_platform STATIC
  ${CMAKE_CURRENT_LIST_DIR}/alert.cpp
  ${CMAKE_CURRENT_LIST_DIR}/alert_gtk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/alert_terminal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/application.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_manager.cpp
  ${CMAKE_CURRENT_LIST_DIR}/home_environment.cpp
  ${CMAKE_CURRENT_LIST_DIR}/running_application.cpp
  ${CMAKE_CURRENT_LIST_DIR}/spawn_descriptors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trash.cpp
  ${UK_POSIX_SOURCES})
target_link_libraries(uk_platform PUBLIC uk_platform_values uk_platform_pure PkgConfig::GLIB PkgConfig::GTK
  PkgConfig::X11)
