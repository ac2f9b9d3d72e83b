// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <cstddef>
#include <string>
#include <vector>

#include "charset/Charset.h"
#include "check/RecordCheck.h"
#include "display/RecordScan.h"

// What a document window knows about the record on display beyond its display
// bytes: the text it shows, the character set it is read in, the bytes that
// set cannot read, its structural problems and its content findings under the
// window's rules. The information panel, the check dialog and the record
// text's notes show it.

struct RecordInfo {
    /// Whether a record is on display (nothing is known before the first).
    bool read = false;
    veltrane::CharsetDecision decision;
    veltrane::ToldCharset told;  ///< the set as the panel names it
    /// The record's text as the window shows it.
    QString text;
    std::size_t invalidBytes = 0;
    std::vector<veltrane::CheckProblem> problems;  ///< structural
    /// Content findings under the window's rules, in field order.
    std::vector<veltrane::CheckProblem> findings;
    veltrane::RuleSet rules = veltrane::RuleSet::None;   ///< the rules the findings come from
    veltrane::RuleSet format = veltrane::RuleSet::None;  ///< whose names the fields have
    std::string leader;  ///< as the file holds it
};

/// The content findings the panel counts and the text marks: all but the
/// notice that a record's kind has no rules.
[[nodiscard]] bool IsContentFault(const veltrane::CheckProblem& finding);

/// What a window knows of the record a scan showed.
[[nodiscard]] RecordInfo MakeRecordInfo(veltrane::ShownRecordText shown);

/// The information panel's text: the set in use ("（自动）" when the setting
/// chose it), then the invalid bytes, structural problems and content faults
/// when there are any, then the records of the file ("共 N 条") once its index is built
/// (recordCount -1: not yet, or never).
[[nodiscard]] QString RecordInfoText(const RecordInfo& info, veltrane::CharsetSetting setting, int recordCount = -1);

/// The menu caption of a setting: 自动, GBK, GB18030, UTF-8, MARC-8.
[[nodiscard]] QString CharsetSettingCaption(veltrane::CharsetSetting setting);
/// The menu caption of a rules setting: 自动, MARC 21, UNIMARC, CNMARC, 不检查.
[[nodiscard]] QString RuleSettingCaption(veltrane::RuleSetting setting);
/// How a rule set is named to the reader: MARC 21, MARC 21 规范, UNIMARC, CNMARC.
[[nodiscard]] QString RuleSetCaption(veltrane::RuleSet set);
