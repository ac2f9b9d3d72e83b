// SPDX-License-Identifier: Apache-2.0
#pragma once

/// Makes assistive technology read a record text (RecordTextEdit) as its
/// display text, with offsets in that text; once per program, later calls do nothing.
void InstallRecordTextAccessibility();
