// SPDX-License-Identifier: Apache-2.0
#include "state/SharedState.h"

#include <cstdio>

using veltrane::fileaccess::identityOf;

void DocumentSharedState::noteScratchDisplay(bool scratchExisted, bool shown)
{
    const char* path = scratch.path().c_str();
    // A scan that fails after creating the scratch file leaves it behind
    // empty: it is ours as much as one that shows a record.
    if (shown || !scratchExisted)
        m_writtenScratchFile = identityOf(path);
    else if (scratch.isOpenRecordFile(path))
        m_writtenScratchFile.reset();  // refused: it is the user's record file, not ours
}

void DocumentSharedState::deleteScratchFile()
{
    const char* path = scratch.path().c_str();
    const std::optional<veltrane::fileaccess::FileIdentity> current = identityOf(path);
    if (current && current == m_writtenScratchFile && !scratch.isOpenRecordFile(path))
        std::remove(path);
    // Once deleted, its device and inode may come back on an unrelated file.
    m_writtenScratchFile.reset();
}
