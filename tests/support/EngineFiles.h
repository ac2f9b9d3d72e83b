#pragma once

// A private folder for an engine test's record, index and scratch files; the
// engine's settings are restored afterwards.

#include <gtest/gtest.h>

#include <string>

#include "EngineTestDoubles.h"
#include "RecordFiles.h"
#include "RecordIndex.h"
#include "RecordLayout.h"
#include "RecordScan.h"

namespace testsupport {

class EngineFiles : public testing::Test {
protected:
    EngineFiles() { veltrane::ScratchDisplayFile = m_dir.file("tempdisp.mrc"); }
    ~EngineFiles() override
    {
        veltrane::ScratchDisplayFile = m_savedScratch;
        veltrane::DelimiterMode = veltrane::dmNormal;
        veltrane::SearchCaseSensitive = false;
    }
    /// Writes the record file and indexes it: the record count, -1 on failure.
    int open(const std::string& bytes)
    {
        m_dir.write("records.mrc", bytes);
        return veltrane::BuildRecordIndex(m_records.c_str(), m_index.c_str());
    }

    const std::string m_savedScratch = veltrane::ScratchDisplayFile;
    TempDir m_dir;
    std::string m_records = m_dir.file("records.mrc"), m_index = m_dir.file("records.idx");
    testsupport::RecordingPrompt m_prompt;
};

}  // namespace testsupport
