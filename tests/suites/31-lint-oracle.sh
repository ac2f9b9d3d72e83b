#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# MARC::Lint (Debian libmarc-lint-perl) as an oracle of `check --rules`: over
# the MARC 21 bibliographic files of the corpus, record by record, our content
# findings and Lint's warnings must agree on the kinds both make (field not
# repeatable, indicator invalid, subfield not allowed or not repeatable, no
# 245, more than one 1XX, control characters, subfields below 010, 880
# without $6), counted per kind and tag (an 880 under the tag its $6 names).
# Records either reader finds broken are left out. Each difference must be
# one the table below explains.
#   VELTRANE_CORPUS_DIR   record files (default: ../shared/corpus beside the sources)
set -uo pipefail

source_dir=${VELTRANE_SOURCE_DIR:?VELTRANE_SOURCE_DIR must name the source folder}
build_dir=${VELTRANE_BUILD_DIR:?VELTRANE_BUILD_DIR must name the build folder}
corpus=${VELTRANE_CORPUS_DIR:-$source_dir/../shared/corpus}
cli=${VELTRANE_CLI:-$build_dir/cli/veltrane-cli}

if ! perl -MMARC::Lint -e 1 2>/dev/null; then echo "lint-oracle: libmarc-lint-perl not installed: skipped"; exit 77; fi
if [ ! -d "$corpus" ]; then echo "lint-oracle: no corpus at $corpus: skipped"; exit 77; fi
if [ ! -x "$cli" ]; then echo "lint-oracle: veltrane-cli not built in $build_dir" >&2; exit 1; fi

# The MARC 21 bibliographic files (SOURCES.md of the corpus says which).
files=(
  evergreen_hebrew.marc evergreen_jazz_1k.mrc evergreen_lul_fre_100.mrc evergreen_nepali.marc
  idzebra_sample_marc21.mrc marc4j_065001035.mrc marc4j_brkrtest_marc8.mrc marc4j_brkrtest_utf8.mrc
  marc4j_loongboonmee_thai.mrc marc4j_unordered_directory.mrc marcperl_badind.usmarc marcperl_camel.usmarc
  openlibrary_36k_record.mrc openlibrary_880_arabic_french.mrc openlibrary_880_nihon_no_chasho.mrc
  pymarc_alphatag.dat pymarc_marc21_batch.dat pymarc_utf8.dat rubymarc_random_tag_order.dat
  solrmarc_error_recs.mrc solrmarc_uva_2000.mrc traject_hebrew880s.marc traject_test_data_utf8.mrc
  xbib_irmarc8.mrc yaz_marccol1_utf8.marc yaz_marccol5_utf8.marc
)
paths=()
for f in "${files[@]}"; do
  if [ -f "$corpus/$f" ]; then paths+=("$corpus/$f"); else echo "lint-oracle: $f not in the corpus" >&2; exit 1; fi
done

perl - "$cli" "${paths[@]}" <<'PERL'
use strict;
use warnings;
use JSON::PP;
use MARC::File::USMARC;
use MARC::Lint;

my ($cli, @files) = @ARGV;

# Lint's words for the kinds both tools tell, and our code for each.
my @kinds = (
    [qr/^1XX: Only one 1XX tag is allowed/, 'conflicting-fields'],
    [qr/^(\d\d\d): No \d\d\d tag\./, 'missing-field'],
    [qr/^(\w\w\w): Field is not repeatable\./, 'repeated-field'],
    [qr/^880: No subfield 6\./, 'broken-link'],
    [qr/^(\w\w\w): Indicator [12] must be/, 'bad-indicator'],
    [qr/^(\w\w\w): Subfield _. is not allowed\./, 'undefined-subfield'],
    [qr/^(\w\w\w): Subfield _. is not repeatable\./, 'repeated-subfield'],
    [qr/^(\w\w\w): Subfield _. has an invalid control character/, 'control-character'],
    [qr/^(\w\w\w): Subfields are not allowed in fields lower than 010/, 'subfield-in-control-field'],
);
my %compared = map { $_->[1] => 1 } @kinds;
my %content = map { $_ => 1 } qw(undefined-field repeated-field missing-field conflicting-fields bad-indicator
    undefined-subfield repeated-subfield missing-subfield subfield-in-control-field control-character
    bad-fixed-length bad-fixed-value bad-isbn bad-issn unknown-code broken-link);

# The differences known, each with its cause: kind, tag ('*' any), which
# side tells more ('ours': only we do; 'lint': only Lint does; 'fewer': both,
# Lint more often).
my @explained = (
    ['undefined-subfield', '022', 'ours',
     'a rule changed after Lint\'s 2020 tables: 022 $l (ISSN-L) and $m (canceled ISSN-L) are obsolete in the '
     . 'Library of Congress field list (Update No. 42; 023 holds the cluster ISSN), so ours leave them out'],
    ['repeated-subfield', '*', 'fewer',
     'a Lint quirk: Lint warns once for every repetition of a subfield, we once for each code a field repeats'],
);

my $lint = MARC::Lint->new;
my ($records, %unexplained, %seen);
for my $file (@files) {
    my (%ours, %skip);
    open(my $check, '-|', $cli, 'check', '--rules', 'auto', '--format', 'jsonl', $file) or die "$cli: $!";
    while (my $line = <$check>) {
        my $f = decode_json($line);
        # A structural problem, or rules other than MARC 21 bibliographic.
        $skip{$f->{record}} = 1 if $f->{rules} ne 'marc21' || !$content{$f->{code}};
        next unless $compared{$f->{code}};
        my $tag = $f->{code} eq 'conflicting-fields' ? '1XX' : $f->{code} eq 'broken-link' ? '880' : $f->{tag};
        push @{$ours{$f->{record}}}, [$f->{code}, $tag, $f->{occurrence} // 0];
    }
    close $check;
    my $in = MARC::File::USMARC->in($file) or die "$file: cannot open";
    (my $name = $file) =~ s{.*/}{};
    for (my $number = 1;; ++$number) {
        my $record = eval { $in->next };
        last if !$record && !$@;
        next if $@ || !$record || $record->warnings || $skip{$number};
        next unless substr($record->leader, 6, 1) =~ /[acdefgijkmoprt]/;
        ++$records;
        $lint->check_record($record);
        my %count;
        for my $warning ($lint->warnings) {
            for my $kind (@kinds) {
                next unless $warning =~ $kind->[0];
                my $tag = $kind->[1] eq 'conflicting-fields' ? '1XX' : $1 // '880';
                $count{"$kind->[1] $tag"}[1]++;
                last;
            }
        }
        # We tell an 880 under its own tag, Lint under the tag its $6 names.
        my @links = map { substr($_->subfield('6') // '', 0, 3) } $record->field('880');
        for (@{$ours{$number} // []}) {
            my ($code, $tag, $occurrence) = @$_;
            $tag = $links[$occurrence - 1]
                if $tag eq '880' && $code ne 'broken-link' && $occurrence > 0 && $links[$occurrence - 1];
            $count{"$code $tag"}[0]++;
        }
        for my $key (sort keys %count) {
            my ($ours, $theirs) = map { $_ // 0 } @{$count{$key}}[0, 1];
            next if $ours == $theirs;
            my ($code, $tag) = split / /, $key;
            my $side = $theirs == 0 ? 'ours' : $ours == 0 ? 'lint' : $ours < $theirs ? 'fewer' : 'more';
            my ($cause) = grep { $_->[0] eq $code && ($_->[1] eq '*' || $_->[1] eq $tag) && $_->[2] eq $side } @explained;
            if ($cause) {
                $seen{$cause->[3]}++;
            } else {
                $unexplained{"$name record $number: $code $tag, ours $ours, Lint $theirs"} = 1;
            }
        }
    }
}
print "lint-oracle: $records MARC 21 records compared with MARC::Lint\n";
print "lint-oracle: $seen{$_} records differ as explained: $_\n" for sort keys %seen;
if (%unexplained) {
    print STDERR "lint-oracle: differences no cause explains:\n";
    print STDERR "  $_\n" for sort keys %unexplained;
    exit 1;
}
PERL
