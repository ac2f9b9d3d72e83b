// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "charset/Charset.h"
#include "charset/CharsetInternal.h"
#include "check/CheckTypes.h"
#include "iso2709/RecordFields.h"
#include "iso2709/Iso2709Reader.h"

// The check of one record, shared by the single-thread and the worker checks.

namespace veltrane::check {

/// A record's 001 value as a problem line shows it. Printable ASCII, as most
/// are, is read where it stands in the record's bytes and made into text only
/// for a problem; anything else is made into text at once.
struct ControlNumber {
    std::string_view standing;  ///< the value in the record's bytes, when printable ASCII
    std::string made;           ///< otherwise: decoded, controls as '?'

    [[nodiscard]] std::string_view value() const { return standing.data() != nullptr ? standing : made; }
};

/// Scratch objects of one thread, kept from record to record.
struct CheckScratch {
    Iso2709Reader reader;
    std::vector<FieldView> views;
    std::vector<std::span<const unsigned char>> pieces;
    std::vector<RuleFinding> findings;
};

/// Checks one framed record; appends its problems to `out` and gives its 001
/// value. quickScan: a well-formed record is checked where it stands, without
/// RecordFields; what it tells is the same. With a `tally`, its content
/// findings are counted there instead (its structural problems still go to
/// `out`).
void CheckOne(const FramedRecord& record, const CheckOptions& options, RecordFields& fields, TextCodec& codec,
              std::vector<CheckProblem>& out, CheckScratch& scratch, ControlNumber& controlNumber, bool quickScan,
              ProblemTally* tally = nullptr);

}  // namespace veltrane::check
