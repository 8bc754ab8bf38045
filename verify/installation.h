#pragma once

#include <cstdint>

#include "platform/file_url.h"

namespace uk {

// One verified copy of Kellix.app.
struct Installation {
  // The bundle folder, exactly as the verification built it: the searched
  // folder's URL with "Kellix.app" appended as a directory.
  platform::FileURL url;
  // The number of the volume that holds the bundle folder.
  std::uint64_t device = 0;
  // The file number of the bundle folder on that volume.
  std::uint64_t inode = 0;

  // Equal when url, then device, then inode are equal.
  friend bool operator==(const Installation&, const Installation&) = default;
};

}  // namespace uk
