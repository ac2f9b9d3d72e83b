// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "charset/Charset.h"
#include "check/RecordCheck.h"

// What a document window knows about the record on display beyond its display
// bytes: the character set it is read in, the bytes that set cannot read, and
// its structural problems. The information panel and the check dialog show it.

struct RecordInfo {
    /// Whether the record could be read (else only its display bytes read as GBK are shown).
    bool read = false;
    veltrane::CharsetDecision decision;
    veltrane::ToldCharset told;  ///< the set as the panel names it
    /// The text to show instead of the GBK-decoded display bytes: set for a
    /// record read in any other set.
    std::optional<QString> decodedText;
    std::size_t invalidBytes = 0;
    std::vector<veltrane::CheckProblem> problems;
};

/// Reads record `number` of fileName through its index and decides, decodes
/// and checks it under a character-set setting and a delimiter variant. Runs
/// on the interface thread with the window's own codec.
[[nodiscard]] RecordInfo InspectRecord(const std::string& fileName, const std::string& indexFileName,
                                       std::int64_t number, veltrane::CharsetSetting setting, veltrane::DelimiterMode delimiterMode,
                                       veltrane::TextCodec& codec);

/// The information panel's text: the set in use ("（自动）" when the setting
/// chose it), then the invalid bytes and structural problems when there are
/// any, then the records of the file ("共 N 条") once its index is built
/// (recordCount -1: not yet, or never).
[[nodiscard]] QString RecordInfoText(const RecordInfo& info, veltrane::CharsetSetting setting, int recordCount = -1);

/// The menu caption of a setting: 自动, GBK, GB18030, UTF-8, MARC-8.
[[nodiscard]] QString CharsetSettingCaption(veltrane::CharsetSetting setting);
