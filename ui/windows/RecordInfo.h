// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <cstddef>
#include <vector>

#include "charset/Charset.h"
#include "check/RecordCheck.h"
#include "display/RecordScan.h"

// What a document window knows about the record on display beyond its display
// bytes: the text it shows, the character set it is read in, the bytes that
// set cannot read, and its structural problems. The information panel and the
// check dialog show it.

struct RecordInfo {
    /// Whether a record is on display (nothing is known before the first).
    bool read = false;
    veltrane::CharsetDecision decision;
    veltrane::ToldCharset told;  ///< the set as the panel names it
    /// The record's text as the window shows it.
    QString text;
    std::size_t invalidBytes = 0;
    std::vector<veltrane::CheckProblem> problems;
};

/// What a window knows of the record a scan showed.
[[nodiscard]] RecordInfo MakeRecordInfo(veltrane::ShownRecordText shown);

/// The information panel's text: the set in use ("（自动）" when the setting
/// chose it), then the invalid bytes and structural problems when there are
/// any, then the records of the file ("共 N 条") once its index is built
/// (recordCount -1: not yet, or never).
[[nodiscard]] QString RecordInfoText(const RecordInfo& info, veltrane::CharsetSetting setting, int recordCount = -1);

/// The menu caption of a setting: 自动, GBK, GB18030, UTF-8, MARC-8.
[[nodiscard]] QString CharsetSettingCaption(veltrane::CharsetSetting setting);
