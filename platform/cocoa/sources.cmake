# The Objective-C++ files of the macOS platform, each named. The Mac build
# compiles them and the Linux type check (tests/cocoa) parses the same list.

# Pure functions of their input: text equality and property-list parsing.
set(UK_COCOA_PURE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/text.mm
  ${CMAKE_CURRENT_LIST_DIR}/property_list.mm)

# Everything that touches the system and only a Mac has: the application,
# alerts, the home folder, the Trash, running applications, and how a child
# is kept from our descriptors (the rest of the child-process runner and the
# item attributes are the POSIX ones, in platform/posix).
set(UK_COCOA_SYSTEM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/application.mm
  ${CMAKE_CURRENT_LIST_DIR}/alert.mm
  ${CMAKE_CURRENT_LIST_DIR}/file_manager.mm
  ${CMAKE_CURRENT_LIST_DIR}/running_application.mm
  ${CMAKE_CURRENT_LIST_DIR}/spawn_descriptors.mm)

set(UK_COCOA_SOURCES ${UK_COCOA_PURE_SOURCES} ${UK_COCOA_SYSTEM_SOURCES})
