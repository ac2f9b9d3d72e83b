// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "files/IndexFile.h"
#include "common/Outcome.h"
#include "common/UserPrompt.h"
#include "common/WorkMonitor.h"

namespace veltrane {

// The record offset index: a temporary file of 64-bit little-endian offsets,
// one per record, followed by an end sentinel (where the scan stopped). Entry k
// (1-based) lies at byte (k - 1) * 8. Nothing outside the process reads it.

/// Bytes of the record file read at a time while indexing; with a 64 KiB write
/// buffer, the whole memory the index build needs, whatever the file size.
inline constexpr std::size_t kIndexReadBlockSize = 1024 * 1024;

/// The folder of the viewer's temporary files: TMP, else TMPDIR, else /tmp.
[[nodiscard]] std::string TemporaryDirectory();

/// Creates a new, empty index file named "idx<n>" (lowest free n from 0) in the
/// temporary directory (TMP, else TMPDIR, else /tmp). The file is created
/// exclusively and never through a symbolic link. When no name can be made the
/// user is told "tempnam couldn't create name" and nothing is returned.
[[nodiscard]] std::optional<std::string> CreateIndexName(UserPrompt& prompt);

/// Indexes every record of fileName into indexFileName (replacing its content;
/// a symbolic link under that name is refused, never followed). Returns the
/// record count (0 or more), or -1 when either file cannot be opened or read or
/// a write fails; a partial index left by a failed read or write is removed.
[[nodiscard]] int BuildRecordIndex(const char* fileName, const char* indexFileName);

/// The same, reading blockSize bytes at a time (clamped to 24 ..
/// kIndexReadBlockSize): lets tests put records across block boundaries.
[[nodiscard]] int BuildRecordIndex(const char* fileName, const char* indexFileName, std::size_t blockSize);

/// An index build's outcome: Done with the record count, Cancelled (no index
/// file is left), or FileError.
struct IndexBuild {
    Outcome outcome = Outcome::Done;
    int count = -1;
};

/// The same, with progress and cancel; a cancelled build removes its index
/// file, as a failed one does.
[[nodiscard]] IndexBuild BuildRecordIndex(const char* fileName, const char* indexFileName, const WorkMonitor& monitor,
                                          std::size_t blockSize = kIndexReadBlockSize);

/// Reads index entry k (1-based). Returns nothing when the entry does not exist
/// or cannot be read.
[[nodiscard]] std::optional<std::uint64_t> ReadIndexEntry(const char* indexFileName, std::int64_t k);

}  // namespace veltrane
