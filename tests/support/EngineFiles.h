// SPDX-License-Identifier: Apache-2.0
#pragma once

// A private folder for an engine test's record, index and scratch files; the
// scan settings and scratch file are the test's own.

#include <gtest/gtest.h>

#include <string>

#include "EngineTestDoubles.h"
#include "RecordFiles.h"
#include "files/RecordIndex.h"
#include "iso2709/RecordLayout.h"
#include "display/RecordScan.h"

namespace testsupport {

class EngineFiles : public testing::Test {
protected:
    /// Writes the record file and indexes it: the record count, -1 on failure.
    int open(const std::string& bytes)
    {
        m_dir.write("records.mrc", bytes);
        return veltrane::BuildRecordIndex(m_records.c_str(), m_index.c_str());
    }

    TempDir m_dir;
    veltrane::ScratchDisplay m_scratch{m_dir.file("tempdisp.mrc")};
    veltrane::ScanSettings m_settings;
    std::string m_records = m_dir.file("records.mrc"), m_index = m_dir.file("records.idx");
    testsupport::RecordingPrompt m_prompt;
};

}  // namespace testsupport
