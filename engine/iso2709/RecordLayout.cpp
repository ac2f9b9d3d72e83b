// SPDX-License-Identifier: Apache-2.0
#include "iso2709/RecordLayout.h"

namespace veltrane {

unsigned char FieldTerminator(DelimiterMode mode)
{
    return mode == dmSpecial1 ? kSpecialFieldTerminator : kStandardFieldTerminator;
}

unsigned char SubfieldDelimiter(DelimiterMode mode)
{
    return (mode == dmSpecial1 || mode == dmSpecial2) ? kSpecialSubfieldDelimiter
                                                      : kStandardSubfieldDelimiter;
}

}  // namespace veltrane
