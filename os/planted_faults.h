#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "os/status.h"

// How the platform files consult the faults a test planted. Not for use
// above the seam.
namespace quillfen::os::planted {

// How many of size bytes an append to path may write before the disk counts
// as full; size when no fault is planted for path.
std::size_t AppendAllowance(const std::string& path, std::size_t size);
// Takes the bytes that an append wrote off what is left of the allowance.
void CountAppended(const std::string& path, std::size_t written);
// The failure planted for closing or cutting back path, if any.
std::optional<Status> CloseFault(const std::string& path);
std::optional<Status> CutBackFault(const std::string& path);
// The failure planted for listing the folder path, if any.
std::optional<Status> ListingFault(const std::string& path);
// Whether flushes to disk are to return at once.
bool FlushesSkipped();
// Whether starting a thread must fail.
bool ThreadStartFault();
// The failure of an append that met the planted full disk.
Status FullDisk();

}  // namespace quillfen::os::planted
