#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes engine/rules/RuleTables.generated.inc, the content rules of MARC 21
bibliographic, MARC 21 authority and UNIMARC bibliographic records and the
code lists they check against: MARC 21 from the Library of Congress field
lists transcribed in tools/rule-sources/, UNIMARC from the public-domain rule
file in ../shared/rules-sources, the ISO code lists of Debian's iso-codes
package and the MARC language and country code lists as Debian's
libmarc-lint-perl carries them (CodeData.pm, read through perl; only needed to
regenerate: the build uses the committed table). docs/RULES.md says what each
source gives.

    python3 tools/make_rule_tables.py [RULES_FOLDER [ISO_CODES_JSON_FOLDER]] > engine/rules/RuleTables.generated.inc

Rule file format, one field a block, blocks separated by blank lines:
    TAG  R|NR  NAME              the field
    length  N | c:N,c:N|M,...    a fixed field's length (007: per category)
    ind1 / ind2  VALUES  NAME     VALUES: "blank", or characters with b for a blank
    subfield  CODES  ...          the defined codes (a control field has none)
    CODE  R|NR  NAME              one line per subfield code
Lines before the first field name mandatory fields ("245 1 ...") and the one
main entry rule ("1xx 1 ...").

The Library of Congress field lists (tools/rule-sources/marc21-*-lc.txt) keep
the text of the list itself: "TAG - NAME (R|NR)", "First - NAME" and
"Second - NAME" each with its values ("0 - meaning", "# - meaning" for a
blank, "0-9 - meaning"), "$a - NAME (R|NR)", and the coded character
positions of the leader and 008 ("17 - Encoding level" with its codes under
it), per material for bibliographic 008 ("008--BOOKS").

The Chinese names, and the Chinese meanings of the MARC 21 indicator values,
come from tools/rule-names/ (its README says why each is marked a
translation). CNMARC is UNIMARC with tools/cnmarc-additions.tsv laid
over it.
"""
import os
import json
import re
import subprocess
import sys

rules_folder = sys.argv[1] if len(sys.argv) > 1 else "../shared/rules-sources"
names_folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rule-names")
iso_folder = sys.argv[2] if len(sys.argv) > 2 else "/usr/share/iso-codes/json"

# Where a rule file's indicator line leaves out the blank its format allows
# (the sources' notes name UNIMARC 210; the UNIMARC manual gives both
# indicators of 210 a blank value).
INDICATOR_BLANK_ADDED = {("unimarc", "210", 1), ("unimarc", "210", 2)}


def cxx_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def one_spaced(text):
    return " ".join(text.split())


def read_names(file_name):
    names = {}
    with open(os.path.join(names_folder, file_name), encoding="utf-8") as table:
        for line in table:
            if line.strip():
                english, chinese = line.rstrip("\n").split("\t")
                names[one_spaced(english)] = chinese
    return names


def chinese_name(names, key, what):
    if not key:
        return ""
    if key not in names:
        sys.exit(f"make_rule_tables: no Chinese name for {what} '{key}' in tools/rule-names/")
    return names[key]


# The marker of a Chinese meaning that is this project's translation of the
# English one; any other marker names the Chinese source that gives it.
TRANSLATION_MARKER = "translation"


def read_meaning_rows(file_name, key_of, layout):
    """Rows of six columns: three that say what is meant (`key_of` makes
    them a key, or None where they do not fit `layout`), the source's
    English, the Chinese and its marker."""
    meanings = {}
    with open(os.path.join(names_folder, file_name), encoding="utf-8") as table:
        for number, line in enumerate(table, 1):
            if not line.strip():
                continue
            parts = line.rstrip("\n").split("\t")
            key = key_of(*parts[:3]) if len(parts) == 6 and parts[4] else None
            if key is None:
                sys.exit(f"make_rule_tables: {file_name}:{number}: expected {layout}, English, Chinese and marker")
            if key in meanings:
                sys.exit(f"make_rule_tables: {file_name}:{number}: {'/'.join(parts[:3])} given twice")
            english, chinese, marker = parts[3:]
            meanings[key] = {"english": english, "chinese": chinese, "translated": marker == TRANSLATION_MARKER,
                             "where": f"{file_name}:{number}", "used": False}
    return meanings


def translation(meanings, key, english, kind, what):
    """The row of one name or meaning; the generator stops where there is
    none, or where the English it translates is no longer the source's (the
    source changed and the Chinese needs a look)."""
    entry = meanings.get(key)
    if entry is None:
        sys.exit(f"make_rule_tables: no Chinese {kind} for {what} ('{english}') in tools/rule-names/")
    if entry["english"] != english:
        sys.exit(f"make_rule_tables: {entry['where']}: {what} translates '{entry['english']}', the source now "
                 f"says '{english}'")
    entry["used"] = True
    return entry


def read_value_meanings(file_name):
    """The Chinese meaning of each indicator value: rows of tag, indicator
    (1 or 2), value ('#' for a blank), the source's English meaning, the
    Chinese meaning and its marker."""
    def key_of(tag, which, value):
        if which not in ("1", "2") or len(value) != 1:
            return None
        return tag, int(which), " " if value == "#" else value
    return read_meaning_rows(file_name, key_of, "tag, indicator, value")


def chinese_meaning(meanings, family, tag, which, value, english):
    """The Chinese meaning of one indicator value."""
    shown = "#" if value == " " else value
    return translation(meanings, (tag, which, value), english, "meaning",
                       f"{family} {tag} indicator {which} value '{shown}'")


# The blocks whose coded positions the tables explain: each position's
# Chinese name and each of its codes' meanings (MARC 21's leader; the
# sources give the 006/007/008 codes meanings too, but no Chinese is made
# for them yet).
EXPLAINED_BLOCKS = ("LDR",)


def read_fixed_meanings(file_name):
    """The Chinese name of each coded position of an explained block and
    the Chinese meaning of each of its codes: rows of block, position (two
    digits), code ('#' for a blank; empty in the row of the position's own
    name), the source's English, the Chinese and its marker."""
    def key_of(block, position, code):
        if not re.fullmatch(r"\d\d", position):
            return None
        return block, int(position), code.replace("#", " ") if code else None
    return read_meaning_rows(file_name, key_of, "block, position, code")


def fixed_meaning(meanings, family, block, position, code, english):
    """The Chinese name of a coded position (code None) or the Chinese
    meaning of one of its codes."""
    what = f"{family} {block}/{position:02d}" + ("" if code is None else f" code '{code.replace(' ', '#')}'")
    return translation(meanings, (block, position, code), english, "name" if code is None else "meaning", what)


def check_meanings_used_and_consistent(meaning_tables):
    """Every row stands for a value of the sources, and one English meaning
    has one Chinese meaning throughout."""
    chinese_of = {}
    for meanings in meaning_tables:
        for key, entry in meanings.items():
            if not entry["used"]:
                shown = "/".join("#" if part == " " else str(part) for part in key if part is not None)
                sys.exit(f"make_rule_tables: {entry['where']}: {shown} is no value of the source")
            first = chinese_of.setdefault(entry["english"], entry)
            if first["chinese"] != entry["chinese"]:
                sys.exit(f"make_rule_tables: {entry['where']}: '{entry['english']}' is '{entry['chinese']}' "
                         f"here and '{first['chinese']}' at {first['where']}")


def indicator_values(values):
    if values == "blank":
        return " "
    return "".join(" " if c == "b" else c for c in values)


def read_rules(path, family):
    mandatory, one_main_entry, fields = [], False, {}
    # Blocks end at a line of nothing but white space (one file ends its lines with CR CR LF).
    blocks, block = [], []
    for line in open(path, encoding="utf-8", newline="").read().replace("\r", "").split("\n"):
        if line.strip():
            if not line.startswith("#"):
                block.append(line)
        elif block:
            blocks.append(block)
            block = []
    if block:
        blocks.append(block)
    for lines in blocks:
        head = lines[0].split("\t")
        if len(head) >= 3 and head[1] == "1" and not any(l.startswith("ind1") for l in lines):
            # The preamble: mandatory fields and the one main entry rule.
            for line in lines:
                tag = line.split("\t")[0]
                if tag.lower() == "1xx":
                    one_main_entry = True
                else:
                    mandatory.append(tag)
            continue
        tag, repeat, name = head[0], head[1], head[2].strip()
        field = {"tag": tag, "repeatable": repeat == "R", "name": name, "ind": [" ", " "], "ind_name": ["", ""],
                 "subfields": [], "control": False, "length": 0, "lengths": ""}
        listed = None
        for line in lines[1:]:
            parts = line.split("\t")
            key = parts[0]
            if key == "length":
                if ":" in parts[1]:
                    field["lengths"] = parts[1].strip()
                else:
                    field["length"] = int(parts[1])
            elif key in ("ind1", "ind2"):
                position = 1 if key == "ind1" else 2
                values = indicator_values(parts[1].strip())
                if (family, tag, position) in INDICATOR_BLANK_ADDED and " " not in values:
                    values = " " + values
                field["ind"][position - 1] = values
                field["ind_name"][position - 1] = one_spaced(parts[2]) if len(parts) > 2 else ""
            elif key == "subfield":
                listed = parts[1].strip()
            elif key == "":
                field["control"] = True
            else:
                field["subfields"].append((key, parts[1] == "R", parts[2].strip() if len(parts) > 2 else ""))
        if listed is not None:
            named = {code for code, _, _ in field["subfields"]}
            for code in listed:
                if code not in named:
                    print(f"warning: {family} {tag} lists ${code} without a line; taken as repeatable, unnamed",
                          file=sys.stderr)
                    field["subfields"].append((code, True, ""))
        field["subfields"].sort(key=lambda s: s[0])
        if tag in fields:
            print(f"warning: {family} {tag} given twice; the first is kept", file=sys.stderr)
            continue
        fields[tag] = field
    return mandatory, one_main_entry, [fields[t] for t in sorted(fields)]


LC_SOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rule-sources")

# Where the generator departs from the Library of Congress lists, each with
# its reason:
# - 007 of an electronic resource (category c) may also hold 6 bytes: records
#   made before positions 06-13 were defined have no more (the earlier rule
#   file allowed them too);
# - 880 takes the rules of the field its $6 names (code, not table), so its
#   own entry is open;
# - a data field the bibliographic list names without indicators or
#   subfields (the holdings fields 841-878, defined in the holdings format)
#   is open: its name is known, its content is not checked here.
CATEGORY_LENGTHS_ADDED = {"c": [6]}
# - 008/23 of computer files (form of item, 006/06) takes a blank ("unknown
#   or not specified") and the fill character besides o and q: the Library
#   of Congress's full page of that 008 (www.loc.gov/marc/bibliographic/
#   bd008c.html, February 2010 and later) lists all four; the field list
#   gives only o and q.
FIXED_CODES_ADDED = {("008", "CF", 23): [("#", "Unknown or not specified"), ("|", "No attempt to code")]}

# The material blocks of the bibliographic 006 and 008 lists.
MATERIALS = {"BOOKS": "BK", "COMPUTER FILES": "CF", "COMPUTER FILES/ELECTRONIC RESOURCES": "CF", "MAPS": "MP",
             "MUSIC": "MU", "CONTINUING RESOURCES": "CR", "VISUAL MATERIALS": "VM", "MIXED MATERIALS": "MX",
             "ALL MATERIALS": ""}

LC_FIELD = re.compile(r"^(\d{3}) - (.*?)\s*\((R|NR)\)(?:\s*\[[A-Z-]+\])?\s*$")
LC_FIXED_BLOCK = re.compile(r"^\s*(00[678])--(.+?)\s*$")
LC_POSITION = re.compile(r"^\s*(\d\d)(?:-(\d\d))? - (.*?)\s*$")
LC_VALUE = re.compile(r"^\s*(\S+) - (.*?)\s*$")
LC_INDICATOR = re.compile(r"^\s*(First|Second) - (.*?)\s*$")
LC_SUBFIELD = re.compile(r"^\s*\$(\S)(?:-(\S))?(?: -)? (.*?)\s*$")
LC_REPEAT = re.compile(r"^(.*?)\s*\((R|NR)\)(?:\s*\[[A-Z-]+\])?$")
# Code lines sit deeper than the character positions they belong to.
LC_CODE_INDENT = 8


def lc_values(code):
    """The characters or strings a value line allows: '#' is a blank, '0-9'
    and '001-999' are ranges of digits."""
    code = code.replace("#", " ")
    if re.fullmatch(r"\d+-\d+", code):
        low, high = code.split("-")
        if len(low) == 1 and len(high) == 1:
            return [str(d) for d in range(int(low), int(high) + 1)]
        return ["digits" + str(len(low))]
    return [code]


def read_lc_list(path, family):
    """Fields, subfields, indicator values and coded character positions from
    a Library of Congress field list as tools/rule-sources/ keeps it."""
    fields, fixed, categories, materials = {}, [], {}, {}
    field, part, block, position, category = None, None, None, None, None
    for line in open(path, encoding="utf-8"):
        line = line.rstrip("\n")
        if not line.strip() or line.startswith("#") or line.startswith("--"):
            continue
        stripped = line.strip()
        indent = len(line) - len(line.lstrip(" "))
        head = LC_FIELD.match(line)
        if head:
            tag, name, repeat = head.groups()
            field = {"tag": tag, "repeatable": repeat == "R", "name": name, "ind": ["", ""], "ind_name": ["", ""],
                     "ind_values": [[], []], "subfields": [], "control": tag < "010", "length": 0, "lengths": "",
                     "open": False, "has_indicators": False}
            if tag in fields:
                sys.exit(f"make_rule_tables: {family} {tag} given twice")
            fields[tag] = field
            part, position = None, None
            block = (tag, "") if tag in ("006", "007", "008") else None
            continue
        if stripped == "LEADER":
            field, block, position = None, ("LDR", ""), None
            continue
        sub_block = LC_FIXED_BLOCK.match(line)
        if sub_block:
            block, position = (sub_block.group(1), MATERIALS.get(sub_block.group(2), "")), None
            category = None
            continue
        if stripped.lower() == "character positions":
            continue
        if block is not None:
            at = LC_POSITION.match(line)
            if at and indent < LC_CODE_INDENT:
                start = int(at.group(1))
                end = int(at.group(2)) if at.group(2) else start
                # A 007 position past the category belongs to the category its block names.
                material = category if block[0] == "007" and start > 0 else block[1]
                position = {"block": block[0], "material": material, "start": start, "end": end,
                            "name": at.group(3), "codes": []}
                fixed.append(position)
                if block[0] == "007" and category is not None:
                    categories[category] = max(categories.get(category, 0), end + 1)
                continue
            value = LC_VALUE.match(line)
            if value and position is not None and indent >= LC_CODE_INDENT:
                code = value.group(1)
                position["codes"].append((code, value.group(2)))
                if position["start"] == 0 and block[0] == "007":
                    category = code
                    categories[category] = 1
                # The forms of material of 006/00 are the types of record
                # (leader/06) of each 008 material, but for 's', the form of
                # a continuing resource: a record is one by its bibliographic
                # level (leader/07), not its type.
                if position["start"] == 0 and block[0] == "006":
                    materials[code] = block[1]
                continue
            sys.exit(f"make_rule_tables: {family}: cannot read fixed-field line '{line}'")
        if field is None:
            sys.exit(f"make_rule_tables: {family}: line outside a field: '{line}'")
        if stripped == "Indicators":
            part = "ind"
            field["has_indicators"] = True
            continue
        if stripped in ("Subfield Codes", "Subfield Code"):
            part = "sub"
            continue
        indicator = LC_INDICATOR.match(line)
        if (part == "ind" or isinstance(part, tuple)) and indicator:
            which = 0 if indicator.group(1) == "First" else 1
            field["ind_name"][which] = one_spaced(indicator.group(2))
            part = ("ind", which)
            continue
        if isinstance(part, tuple):
            value = LC_VALUE.match(line)
            if not value:
                sys.exit(f"make_rule_tables: {family} {field['tag']}: cannot read indicator line '{line}'")
            for v in lc_values(value.group(1)):
                field["ind"][part[1]] += v
                field["ind_values"][part[1]].append((v, one_spaced(value.group(2))))
            continue
        if part == "sub":
            sub = LC_SUBFIELD.match(line)
            if not sub:
                sys.exit(f"make_rule_tables: {family} {field['tag']}: cannot read subfield line '{line}'")
            first, last, rest = sub.groups()
            repeat = LC_REPEAT.match(rest)
            # A line without (R) or (NR) (340 $1) is taken as repeatable.
            name, repeatable = (repeat.group(1), repeat.group(2) == "R") if repeat else (rest, True)
            codes = [first] if last is None else [chr(c) for c in range(ord(first), ord(last) + 1)]
            named = {code for code, _, _ in field["subfields"]}
            for code in codes:
                if code not in named:
                    field["subfields"].append((code, repeatable, one_spaced(name) if last is None else ""))
            continue
        sys.exit(f"make_rule_tables: {family} {field['tag']}: cannot read '{line}'")
    for f in fields.values():
        if f["control"]:
            f["ind"] = [" ", " "]
            if f["tag"] == "006":
                f["length"] = max(p["end"] for p in fixed if p["block"] == "006") + 1
            elif f["tag"] == "008":
                f["length"] = max(p["end"] for p in fixed if p["block"] == "008") + 1
            elif f["tag"] == "007":
                entries = []
                for category, length in categories.items():
                    allowed = sorted(set([length] + CATEGORY_LENGTHS_ADDED.get(category, [])))
                    entries.append(category + ":" + "|".join(str(n) for n in allowed))
                f["lengths"] = ",".join(entries)
        elif f["tag"] == "880" or not f["has_indicators"]:
            f["open"] = True
            f["ind"] = [" 0123456789", " 0123456789"]
            f["subfields"] = []
        f["subfields"].sort(key=lambda s: s[0])
    for p in fixed:
        p["codes"] += FIXED_CODES_ADDED.get((p["block"], p["material"], p["start"]), [])
    codes = [p for p in fixed if p["codes"] and p["block"] in ("LDR", "008")]
    # 006/00 and 007/00 each name the block they start: one position of
    # every 006 (007) holding the codes of all blocks; then the positions
    # each 007 category defines. 006/01-17 take the codes of the 008 of the
    # form's material (code, not table).
    for block in ("006", "007"):
        starts = [p for p in fixed if p["block"] == block and p["start"] == 0]
        if starts:
            codes.append({"block": block, "material": "", "start": 0, "end": 0, "name": starts[0]["name"],
                          "codes": [c for p in starts for c in p["codes"]]})
    codes += [p for p in fixed if p["codes"] and p["block"] == "007" and p["start"] > 0]
    return {"fields": [fields[t] for t in sorted(fields)], "fixed": codes, "materials": materials}


# The blocks of a source that gives only coded positions, and the block
# each is in the table.
FIXED_BLOCKS = {"LEADER": "LDR", "100 $a": "100 $a", "105 $a": "105 $a", "106 $a": "106 $a"}


def read_fixed_positions(path):
    """The coded character positions, with their codes, of a source that
    gives nothing else (tools/rule-sources/unimarc-bibliographic-fixed.txt):
    block lines, positions under them, each position's codes deeper."""
    fixed, block, position = [], None, None
    for line in open(path, encoding="utf-8"):
        line = line.rstrip("\n")
        if not line.strip() or line.startswith("#"):
            continue
        indent = len(line) - len(line.lstrip(" "))
        if line.strip() in FIXED_BLOCKS:
            block, position = FIXED_BLOCKS[line.strip()], None
            continue
        at = LC_POSITION.match(line)
        if block and at and indent < LC_CODE_INDENT:
            start = int(at.group(1))
            end = int(at.group(2)) if at.group(2) else start
            position = {"block": block, "material": "", "start": start, "end": end, "name": at.group(3),
                        "codes": []}
            fixed.append(position)
            continue
        value = LC_VALUE.match(line)
        if value and position is not None and indent >= LC_CODE_INDENT:
            position["codes"].append((value.group(1), value.group(2)))
            continue
        sys.exit(f"make_rule_tables: {path}: cannot read '{line}'")
    return [p for p in fixed if p["codes"]]


def read_preamble(path):
    """The mandatory fields and the one main entry rule a rule file states
    before its first field."""
    mandatory, one_main_entry = [], False
    for line in open(path, encoding="utf-8", newline="").read().replace("\r", "").split("\n"):
        if not line.strip():
            break
        tag = line.split("\t")[0]
        if tag.lower() == "1xx":
            one_main_entry = True
        else:
            mandatory.append(tag)
    return mandatory, one_main_entry


def cnmarc_from(unimarc_rules):
    """UNIMARC with the CNMARC additions: fields and subfields of its own,
    named in Chinese by their sources, and its mandatory fields."""
    mandatory, one_main_entry, fields = unimarc_rules
    mandatory = list(mandatory)
    # Each field copies its subfield list: the additions must not reach UNIMARC.
    by_tag = {f["tag"]: dict(f, subfields=list(f["subfields"])) for f in fields}
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "cnmarc-additions.tsv")
    for line in open(path, encoding="utf-8"):
        if not line.strip() or line.startswith("#"):
            continue
        parts = line.rstrip("\n").split("\t")
        if parts[0] == "field":
            tag, english, chinese = parts[1:4]
            by_tag[tag] = {"tag": tag, "repeatable": True, "name": english, "name_zh": chinese,
                           "ind": [" 0123456789", " 0123456789"], "ind_name": ["", ""], "subfields": [],
                           "control": False, "length": 0, "lengths": "", "open": True}
        elif parts[0] == "subfield":
            tags, code, english, chinese = parts[1:5]
            for tag in tags.split(","):
                if tag not in by_tag:
                    sys.exit(f"make_rule_tables: cnmarc-additions: subfield ${code} of {tag}, a field not defined")
                # No source says whether it repeats: taken as repeatable, so
                # its repetition is never reported.
                rule = (code, True, english, chinese)
                subfields = by_tag[tag]["subfields"]
                kept = [s for s in subfields if s[0] != code]
                subfields[:] = kept + [rule] if len(kept) == len(subfields) else \
                    [rule if s[0] == code else s for s in subfields]
        elif parts[0] == "mandatory":
            if parts[1] not in mandatory:
                mandatory.append(parts[1])
    return sorted(mandatory), one_main_entry, [by_tag[t] for t in sorted(by_tag)]


def write_set(family, rules, names_prefix, subfield_prefix=None, value_meanings=None, fixed_meanings=None):
    field_names = read_names(f"{names_prefix}-fields.zh.tsv")
    subfield_names = read_names(f"{subfield_prefix or names_prefix}-subfields.zh.tsv")
    indicator_names = read_names("indicators.zh.tsv")
    out = []
    subfields, values = [], []
    out.append(f"inline constexpr FieldRule k{family}Fields[] = {{")
    for f in rules["fields"]:
        first = len(subfields)
        subfields.extend(f["subfields"])
        first_value = len(values)
        ind_values = f.get("ind_values", [[], []])
        for which, listed in ((1, ind_values[0]), (2, ind_values[1])):
            values.extend((value, meaning, chinese_meaning(value_meanings or {}, family, f["tag"], which, value, meaning))
                          for value, meaning in listed)
        # A CNMARC field of its own carries its source's Chinese name.
        own = "name_zh" in f
        name_zh = f["name_zh"] if own else chinese_name(field_names, f["tag"], f"{family} field")
        indicators = []
        for english in f["ind_name"]:
            indicators += [cxx_string(english), cxx_string(chinese_name(indicator_names, english, "indicator"))]
        # Every Chinese name is a translation (tools/rule-names/README.md).
        out.append(f"    {{{cxx_string(f['tag'])}, {cxx_string(f['name'])}, {cxx_string(f['ind'][0])}, "
                   f"{cxx_string(f['ind'][1])}, {cxx_string(f['lengths'])}, {first}, {len(f['subfields'])}, "
                   f"{f['length']}, {str(f['repeatable']).lower()}, {str(f['control']).lower()}, "
                   f"{cxx_string(name_zh)}, {', '.join(indicators)}, {str(not own).lower()}, "
                   f"{str(f.get('open', False)).lower()}, {first_value}, {len(ind_values[0])}, "
                   f"{len(ind_values[1])}}},")
    out.append("};")
    out.append(f"inline constexpr SubfieldRule k{family}Subfields[] = {{")
    for code, repeatable, name, *own in subfields:
        name_zh = own[0] if own else chinese_name(subfield_names, one_spaced(name), f"{family} subfield")
        out.append(f"    {{'{code}', {str(repeatable).lower()}, {cxx_string(name)}, {cxx_string(name_zh)}, "
                   f"{str(not own).lower()}}},")
    out.append("};")
    # Each allowed indicator value with its English meaning and the Chinese beside it.
    out += table("IndicatorValueRule", f"k{family}IndicatorValues",
                 [f"{{{cxx_char(value)}, {cxx_string(meaning)}, {cxx_string(zh['chinese'])}, "
                  f"{str(zh['translated']).lower()}}}" for value, meaning, zh in values])
    out += table("FixedCodeRule", f"k{family}FixedCodes",
                 [fixed_code_rule(family, position) for position in rules.get("fixed", [])])
    out += explained_positions(family, rules.get("fixed", []), fixed_meanings)
    out.append(f"inline constexpr std::string_view k{family}MaterialByForm = "
               + cxx_string("".join(t + m for t, m in sorted(rules.get("materials", {}).items()))) + ";")
    out += table("std::string_view", f"k{family}Mandatory", [cxx_string(t) for t in rules["mandatory"]])
    out.append(f"inline constexpr bool k{family}OneMainEntry = {str(rules['one_main_entry']).lower()};")
    return out


def table(type_name, name, rows):
    """A constexpr array, or an empty span where there are no rows (C++ has
    no array of none)."""
    if not rows:
        return [f"inline constexpr std::span<const {type_name}> {name}{{}};"]
    return [f"inline constexpr {type_name} {name}[] = {{"] + [f"    {row}," for row in rows] + ["};"]


def cxx_char(c):
    return "'\\''" if c == "'" else ("'\\\\'" if c == "\\" else f"'{c}'")


def fixed_code_rule(family, position):
    """One coded character position: its codes, each as wide as the
    position (a whole value) or one character (each character of the
    position one code); digits when the list gives a range of numbers."""
    length = position["end"] - position["start"] + 1
    codes, digits = [], False
    for code, _ in position["codes"]:
        for value in lc_values(code):
            if value.startswith("digits"):
                digits = True
            else:
                codes.append(value)
    width = max([len(c) for c in codes] + ([int(position["codes"][0][0].split("-")[0].__len__())] if digits and not codes else []))
    if digits and any(re.fullmatch(r"\d+-\d+", c) and len(c.split("-")[0]) == length for c, _ in position["codes"]):
        width = length
    if width not in (1, length):
        sys.exit(f"make_rule_tables: {family} {position['block']}/{position['start']}: codes of {width} characters")
    # A fill character given once stands for the whole position.
    codes = [c * width if c == "|" and width > 1 else c for c in codes]
    if any(len(c) != width for c in codes):
        sys.exit(f"make_rule_tables: {family} {position['block']}/{position['start']}: codes of mixed widths")
    return (f"{{{cxx_string(position['block'])}, {cxx_string(position['material'])}, {position['start']}, "
            f"{length}, {width}, {str(digits).lower()}, {cxx_string(''.join(codes))}, "
            f"{cxx_string(position['name'])}}}")


def explained_positions(family, fixed, meanings):
    """The Chinese name of each coded position of an explained block and
    what each of its codes means, in English and Chinese, beside the
    coded positions (which stay as compact as they were)."""
    positions, codes = [], []
    for p in fixed if meanings is not None else []:
        if p["block"] not in EXPLAINED_BLOCKS:
            continue
        name = fixed_meaning(meanings, family, p["block"], p["start"], None, p["name"])
        first = len(codes)
        for code, english in p["codes"]:
            for value in lc_values(code):
                if value.startswith("digits"):
                    sys.exit(f"make_rule_tables: {family} {p['block']}/{p['start']}: a range of numbers to explain")
                zh = fixed_meaning(meanings, family, p["block"], p["start"], value, english)
                codes.append(f"{{{cxx_string(value)}, {cxx_string(english)}, {cxx_string(zh['chinese'])}, "
                             f"{str(zh['translated']).lower()}}}")
        positions.append(f"{{{cxx_string(p['block'])}, {cxx_string(p['material'])}, {p['start']}, "
                         f"{cxx_string(name['chinese'])}, {str(name['translated']).lower()}, {first}, "
                         f"{len(codes) - first}}}")
    return (table("FixedPositionMeanings", f"k{family}FixedPositionMeanings", positions)
            + table("FixedCodeMeaning", f"k{family}FixedCodeMeanings", codes))


def as_set(rules):
    mandatory, one_main_entry, fields = rules
    return {"mandatory": mandatory, "one_main_entry": one_main_entry, "fields": fields}


def code_list(name, codes):
    codes = sorted(set(codes))
    lines = [f"inline constexpr std::string_view {name}[] = {{"]
    for i in range(0, len(codes), 12):
        lines.append("    " + ", ".join(cxx_string(c) for c in codes[i:i + 12]) + ",")
    lines.append("};")
    return lines


# MARC 21: the Library of Congress lists. The bibliographic list names no
# mandatory field and no rule on 1XX; the mandatory 245 and the one main entry
# are the rules the earlier bibliographic rule file states in its preamble.
marc21 = read_lc_list(os.path.join(LC_SOURCES, "marc21-bibliographic-lc.txt"), "marc21")
marc21["mandatory"], marc21["one_main_entry"] = read_preamble(f"{rules_folder}/marc21-bibliographic-rules.txt")
# The authority list names no mandatory field and no rule on the number of 1XX headings.
marc21_authority = read_lc_list(os.path.join(LC_SOURCES, "marc21-authority-lc.txt"), "marc21-authority")
marc21_authority["mandatory"], marc21_authority["one_main_entry"] = [], False
unimarc = read_rules(f"{rules_folder}/unimarc-bibliographic-rules.txt", "unimarc")
languages = json.load(open(f"{iso_folder}/iso_639-2.json", encoding="utf-8"))["639-2"]
countries = json.load(open(f"{iso_folder}/iso_3166-1.json", encoding="utf-8"))["3166-1"]



def marc_code_list(name):
    """The keys of one hash of MARC::Lint::CodeData (current codes, not the obsolete ones)."""
    script = f"print join(qq(\\n), sort keys %MARC::Lint::CodeData::{name})"
    out = subprocess.run(["perl", "-MMARC::Lint::CodeData", "-e", script], check=True, capture_output=True, text=True)
    return [code for code in out.stdout.split("\n") if code]


marc_languages = marc_code_list("LanguageCodes")
marc_countries = marc_code_list("CountryCodes")

print("// SPDX-License-Identifier: Apache-2.0")
print("// Generated by tools/make_rule_tables.py from tools/rule-sources, ../shared/rules-sources,")
print("// Debian's iso-codes and libmarc-lint-perl; do not edit. Fields sorted by tag, subfields by code.")
print("// clang-format off")
marc21_meanings = read_value_meanings("marc21-indicator-values.zh.tsv")
marc21_authority_meanings = read_value_meanings("marc21-authority-indicator-values.zh.tsv")
marc21_fixed_meanings = read_fixed_meanings("marc21-fixed-codes.zh.tsv")
marc21_authority_fixed_meanings = read_fixed_meanings("marc21-authority-fixed-codes.zh.tsv")
print("\n".join(write_set("Marc21", marc21, "marc21", value_meanings=marc21_meanings,
                           fixed_meanings=marc21_fixed_meanings)))
print("\n".join(write_set("Marc21Authority", marc21_authority, "marc21-authority", "marc21",
                           value_meanings=marc21_authority_meanings, fixed_meanings=marc21_authority_fixed_meanings)))
check_meanings_used_and_consistent([marc21_meanings, marc21_authority_meanings, marc21_fixed_meanings,
                                    marc21_authority_fixed_meanings])
# UNIMARC's coded positions, which CNMARC shares but for the character sets
# of 100 $a/26-29: CNMARC records code national sets there that UNIMARC
# leaves reserved or undefined ("0110", "0120", "5010"), and no source at
# hand lists CNMARC's codes (docs/RULES.md, missing).
unimarc_fixed = read_fixed_positions(os.path.join(LC_SOURCES, "unimarc-bibliographic-fixed.txt"))
CNMARC_OWN_CODES = {("100 $a", 26), ("100 $a", 28)}
cnmarc_fixed = [p for p in unimarc_fixed if (p["block"], p["start"]) not in CNMARC_OWN_CODES]
print("\n".join(write_set("Unimarc", dict(as_set(unimarc), fixed=unimarc_fixed), "unimarc")))
print("\n".join(write_set("Cnmarc", dict(as_set(cnmarc_from(unimarc)), fixed=cnmarc_fixed), "unimarc")))
# ISO 639-2: the terminology codes and, where they differ, the bibliographic ones (chi, ger).
print("\n".join(code_list("kIso639_2", [l["alpha_3"] for l in languages]
                          + [l["bibliographic"] for l in languages if "bibliographic" in l])))
print("\n".join(code_list("kIso3166Alpha2", [c["alpha_2"] for c in countries])))
# The MARC lists: languages of three letters; countries of two or three, a
# two-letter one with a blank after it, as 008/15-17 holds it.
print("\n".join(code_list("kMarcLanguages", marc_languages)))
print("\n".join(code_list("kMarcCountries", marc_countries)))
print("// clang-format on")
