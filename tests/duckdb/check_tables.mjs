// SPDX-License-Identifier: Apache-2.0
// node check_tables.mjs CLI WORK FILE...: converts each FILE with `convert
// --to tsv` and `--to jsonl`, loads both into DuckDB as a data engineer would,
// and checks that the long table has one row per record, control field and
// subfield, and that the JSON Lines hold one row per record. WORK/made.mrc,
// when there, must also keep a tag 001 as text and values with a quote mark,
// a tab and a backslash as written.
import { execFileSync } from 'node:child_process';
import { readFileSync, writeFileSync, existsSync } from 'node:fs';
import { join } from 'node:path';
import { DuckDBInstance } from '@duckdb/node-api';

const [cli, work, ...files] = process.argv.slice(2);
const db = await DuckDBInstance.create(':memory:');
const connection = await db.connect();
const quoted = (path) => "'" + path.replaceAll("'", "''") + "'";
const readTsv = (path) => `read_csv(${quoted(path)}, delim='\t', quote='', escape='', header=true, all_varchar=true)`;
const scalar = async (sql) => (await connection.runAndReadAll(sql)).getRows()[0][0];

let failures = 0;
const fail = (message) => { console.log(`duckdb-tables: ${message}`); ++failures; };
let compared = 0;
for (const file of files) {
  let jsonl;
  try {
    jsonl = execFileSync(cli, ['convert', '--to', 'jsonl', file], { maxBuffer: 1 << 30, stdio: ['ignore', 'pipe', 'ignore'] });
  } catch {
    continue;  // records read only in part, or no record at all: the tables leave pieces out
  }
  const tsv = execFileSync(cli, ['convert', '--to', 'tsv', file], { maxBuffer: 1 << 30, stdio: ['ignore', 'pipe', 'ignore'] });
  const tsvPath = join(work, 'table.tsv'), jsonlPath = join(work, 'records.jsonl');
  writeFileSync(tsvPath, tsv);
  writeFileSync(jsonlPath, jsonl);
  let records = 0, rows = 0;
  for (const line of jsonl.toString('utf8').split('\n')) {
    if (!line) continue;
    const record = JSON.parse(line);
    ++records;
    rows += 1;  // the leader
    for (const field of record.fields) {
      const body = Object.values(field)[0];
      rows += typeof body === 'string' ? 1 : body.subfields.length;
    }
  }
  const tableRows = Number(await scalar(`SELECT count(*) FROM ${readTsv(tsvPath)}`));
  const leaders = Number(await scalar(`SELECT count(*) FROM ${readTsv(tsvPath)} WHERE tag = 'LDR' AND field = '0'`));
  const jsonRows = Number(await scalar(`SELECT count(*) FROM read_json(${quoted(jsonlPath)})`));
  if (tableRows !== rows) fail(`${file}: ${tableRows} rows in the long table, ${rows} expected`);
  if (leaders !== records) fail(`${file}: ${leaders} leader rows for ${records} records`);
  if (jsonRows !== records) fail(`${file}: ${jsonRows} JSON Lines rows for ${records} records`);
  ++compared;
}

const made = join(work, 'made.mrc');
if (existsSync(made)) {
  const tsvPath = join(work, 'made.tsv');
  writeFileSync(tsvPath, execFileSync(cli, ['convert', '--to', 'tsv', made]));
  const rows = (await connection.runAndReadAll(
    `SELECT record, id, field, tag, ind1, ind2, subfield, code, value FROM ${readTsv(tsvPath)} ORDER BY field::INTEGER, subfield::INTEGER`)).getRows();
  const want = [
    ['1', '007', '0', 'LDR', null, null, '0', null, readFileSync(made, 'latin1').slice(0, 24)],
    ['1', '007', '1', '001', null, null, '0', null, '007'],
    ['1', '007', '2', '245', '1', '0', '1', 'a', 'Say "when"\\ta\\\\b'],
    ['1', '007', '2', '245', '1', '0', '2', 'c', '中文'],
  ];
  if (JSON.stringify(rows) !== JSON.stringify(want))
    fail(`made.mrc read back as ${JSON.stringify(rows)}, expected ${JSON.stringify(want)}`);
  ++compared;
}
console.log(`duckdb-tables: ${compared} files loaded, ${failures} differences`);
process.exit(failures > 0 || compared < 10 ? 1 : 0);
