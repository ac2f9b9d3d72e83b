// SPDX-License-Identifier: Apache-2.0
#include "rules/RuleCodeMeanings.h"

namespace veltrane::rules {

std::string_view RuleCodeMeaningZh(std::string_view code)
{
    struct Meaning {
        std::string_view code;
        std::string_view text;
    };
    static constexpr Meaning kMeanings[] = {
        {"undefined-field", "规则中没有定义这个字段"},
        {"repeated-field", "不可重复的字段重复出现"},
        {"missing-field", "缺少必备字段"},
        {"conflicting-fields", "字段相互冲突（如 MARC 21 中有两个 1XX 字段）"},
        {"bad-indicator", "指示符的值没有定义"},
        {"undefined-subfield", "这个字段没有定义这个子字段"},
        {"repeated-subfield", "不可重复的子字段重复出现"},
        {"missing-subfield", "题名字段缺少 $a 子字段"},
        {"subfield-in-control-field", "控制字段中有子字段标识符"},
        {"control-character", "数据中有控制字符（制表符、回车、换行等）"},
        {"bad-fixed-length", "定长字段的长度不对"},
        {"bad-fixed-value", "定长字段某位置上的代码没有定义"},
        {"bad-isbn", "ISBN 的长度或校验位不对"},
        {"bad-issn", "ISSN 的长度或校验位不对"},
        {"unknown-code", "语言或国家代码不在代码表中"},
        {"broken-link", "880 字段的连接（$6）断了"},
        {"no-rules", "这类纪录没有可用的规则"},
    };
    for (const Meaning& m : kMeanings)
        if (m.code == code)
            return m.text;
    return {};
}

}  // namespace veltrane::rules
