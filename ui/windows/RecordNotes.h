// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "windows/RecordInfo.h"
#include "windows/RecordTextEdit.h"
#include "windows/RecordTextMap.h"

// What the viewer tells of a record's elements beside its text, from the rule
// tables of its format: each line's field name, the names behind a tooltip,
// the leader position by position, and the marks under content faults.

/// Where in the text a content finding stands (see RecordTextMap::placeOf).
[[nodiscard]] std::optional<RecordTextSpan> FindingSpan(const RecordTextMap& map, const veltrane::CheckProblem& finding);

/// The rules whose names a record's fields take: the window's rules when they
/// apply to the record, else the format its shape gives it.
[[nodiscard]] veltrane::RuleSet NamingRules(const RecordInfo& info);

/// The Chinese name of each line's field ("" on continuation lines and for
/// fields the rules do not name).
[[nodiscard]] QStringList LineNames(const RecordTextMap& map, veltrane::RuleSet rules);
/// Each line's name in Chinese and English; the first line's also tells the leader.
[[nodiscard]] QStringList LineToolTips(const RecordTextMap& map, const RecordInfo& info);

/// The tooltip of the element at display position `position`: the name of a
/// tag, an indicator (with its value) or a subfield code, Chinese then
/// English; on the first line the leader follows. "" elsewhere.
[[nodiscard]] QString ElementToolTip(const RecordTextMap& map, const RecordInfo& info, int position);

/// The leader position by position: the structural positions by name, the
/// coded ones with their names and the meaning of their code where the rule
/// tables explain them (MARC 21 bibliographic and authority), other values bare.
[[nodiscard]] QString LeaderDescription(const std::string& leader, veltrane::RuleSet rules);

/// A red wavy underline at each content fault's place, its message as the tooltip.
[[nodiscard]] std::vector<RecordTextEdit::Underline> FindingUnderlines(const RecordTextMap& map,
                                                                        const RecordInfo& info);
