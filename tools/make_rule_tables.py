#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes engine/rules/RuleTables.generated.inc, the content rules of MARC 21
bibliographic and UNIMARC bibliographic records and the code lists they check
against, from the public-domain rule files in ../shared/rules-sources, the
ISO code lists of Debian's iso-codes package and the MARC language and
country code lists as Debian's libmarc-lint-perl carries them (CodeData.pm,
read through perl; only needed to regenerate: the build uses the committed
table). docs/RULES.md says what each source gives.

    python3 tools/make_rule_tables.py [RULES_FOLDER [ISO_CODES_JSON_FOLDER]] > engine/rules/RuleTables.generated.inc

Rule file format, one field a block, blocks separated by blank lines:
    TAG  R|NR  NAME              the field
    length  N | c:N,c:N|M,...    a fixed field's length (007: per category)
    ind1 / ind2  VALUES  NAME     VALUES: "blank", or characters with b for a blank
    subfield  CODES  ...          the defined codes (a control field has none)
    CODE  R|NR  NAME              one line per subfield code
Lines before the first field name mandatory fields ("245 1 ...") and the one
main entry rule ("1xx 1 ...").

The Chinese names come from tools/rule-names/ (its README says why each is
marked a translation). CNMARC is UNIMARC with tools/cnmarc-additions.tsv laid
over it.
"""
import os
import json
import subprocess
import sys

rules_folder = sys.argv[1] if len(sys.argv) > 1 else "../shared/rules-sources"
names_folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rule-names")
iso_folder = sys.argv[2] if len(sys.argv) > 2 else "/usr/share/iso-codes/json"

# Where a rule file's indicator line leaves out the blank its format allows
# (the sources' notes name UNIMARC 210; the UNIMARC manual gives both
# indicators of 210 a blank value).
INDICATOR_BLANK_ADDED = {("unimarc", "210", 1), ("unimarc", "210", 2)}
# Subfield repeatability the MARC 21 source has wrong or out of date, set as
# the table of MARC::Lint 1.53 (Debian libmarc-lint-perl) has it; the corpus
# comparison with MARC::Lint found each: X11 $d, "Date of meeting or treaty
# signing", became repeatable; 886 $a and $b are not repeatable.
SUBFIELD_REPEATABLE_SET = {
    ("marc21", "111", "d"): True, ("marc21", "611", "d"): True, ("marc21", "711", "d"): True,
    ("marc21", "811", "d"): True, ("marc21", "886", "a"): False, ("marc21", "886", "b"): False,
}


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
                repeatable = SUBFIELD_REPEATABLE_SET.get((family, tag, key), parts[1] == "R")
                field["subfields"].append((key, repeatable, parts[2].strip() if len(parts) > 2 else ""))
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


def cnmarc_from(unimarc_rules):
    """UNIMARC with the CNMARC additions: fields of its own, named in Chinese
    by their sources, and its mandatory fields."""
    mandatory, one_main_entry, fields = unimarc_rules
    mandatory = list(mandatory)
    by_tag = {f["tag"]: dict(f) for f in fields}
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
            tag, code, english, chinese = parts[1:5]
            by_tag[tag]["subfields"].append((code, True, english, chinese))
        elif parts[0] == "mandatory":
            if parts[1] not in mandatory:
                mandatory.append(parts[1])
    return sorted(mandatory), one_main_entry, [by_tag[t] for t in sorted(by_tag)]


def write_set(family, mandatory, one_main_entry, fields):
    prefix = {"Cnmarc": "unimarc"}.get(family, family.lower())
    field_names = read_names(f"{prefix}-fields.zh.tsv")
    subfield_names = read_names(f"{prefix}-subfields.zh.tsv")
    indicator_names = read_names("indicators.zh.tsv")
    out = []
    subfields = []
    out.append(f"inline constexpr FieldRule k{family}Fields[] = {{")
    for f in fields:
        first = len(subfields)
        subfields.extend(f["subfields"])
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
                   f"{str(f.get('open', False)).lower()}}},")
    out.append("};")
    out.append(f"inline constexpr SubfieldRule k{family}Subfields[] = {{")
    for code, repeatable, name, *own in subfields:
        name_zh = own[0] if own else chinese_name(subfield_names, one_spaced(name), f"{family} subfield")
        out.append(f"    {{'{code}', {str(repeatable).lower()}, {cxx_string(name)}, {cxx_string(name_zh)}, "
                   f"{str(not own).lower()}}},")
    out.append("};")
    out.append(f"inline constexpr std::string_view k{family}Mandatory[] = {{"
               + ", ".join(cxx_string(t) for t in mandatory) + "};")
    out.append(f"inline constexpr bool k{family}OneMainEntry = {str(one_main_entry).lower()};")
    return out


def code_list(name, codes):
    codes = sorted(set(codes))
    lines = [f"inline constexpr std::string_view {name}[] = {{"]
    for i in range(0, len(codes), 12):
        lines.append("    " + ", ".join(cxx_string(c) for c in codes[i:i + 12]) + ",")
    lines.append("};")
    return lines


marc21 = read_rules(f"{rules_folder}/marc21-bibliographic-rules.txt", "marc21")
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
print("// Generated by tools/make_rule_tables.py from ../shared/rules-sources, Debian's")
print("// iso-codes and libmarc-lint-perl; do not edit. Fields sorted by tag, subfields by code.")
print("// clang-format off")
print("\n".join(write_set("Marc21", *marc21)))
print("\n".join(write_set("Unimarc", *unimarc)))
print("\n".join(write_set("Cnmarc", *cnmarc_from(unimarc))))
# ISO 639-2: the terminology codes and, where they differ, the bibliographic ones (chi, ger).
print("\n".join(code_list("kIso639_2", [l["alpha_3"] for l in languages]
                          + [l["bibliographic"] for l in languages if "bibliographic" in l])))
print("\n".join(code_list("kIso3166Alpha2", [c["alpha_2"] for c in countries])))
# The MARC lists: languages of three letters; countries of two or three, a
# two-letter one with a blank after it, as 008/15-17 holds it.
print("\n".join(code_list("kMarcLanguages", marc_languages)))
print("\n".join(code_list("kMarcCountries", marc_countries)))
print("// clang-format on")
