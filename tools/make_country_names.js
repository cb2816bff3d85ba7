#!/usr/bin/env node
// Generates src/data/country_data.h and src/data/country_data.cpp: the country codes and
// their names in every interface language, from the Unicode CLDR territory names
// (npm cldr-localenames-full, Unicode-3.0 licence).
//
//   node make_country_names.js [output dir, default ../src/data]
//
// The code list is the 249 officially assigned ISO 3166-1 alpha-2 codes plus XK (Kosovo),
// a user-assigned code that CLDR names and that IP country data uses for Kosovo's
// networks; it makes the 250. CLDR's other two-letter territories are left out on purpose:
// exceptionally reserved or transitional codes (AC, CP, CQ, DG, EA, EU, EZ, IC, TA, UN)
// and private-use ones (QO, XA, XB, ZZ) never come back from a country lookup.
//
// Every table is complete: where a CLDR locale has no name for a code (or only repeats the
// code), the English name stands in, and the generator lists those on standard output.
'use strict';

const fs = require('fs');
const path = require('path');

const CLDR = path.join(__dirname, 'node_modules', 'cldr-localenames-full', 'main');

// prettier-ignore
const CODES = [
    'AD', 'AE', 'AF', 'AG', 'AI', 'AL', 'AM', 'AO', 'AQ', 'AR', 'AS', 'AT', 'AU', 'AW', 'AX',
    'AZ', 'BA', 'BB', 'BD', 'BE', 'BF', 'BG', 'BH', 'BI', 'BJ', 'BL', 'BM', 'BN', 'BO', 'BQ',
    'BR', 'BS', 'BT', 'BV', 'BW', 'BY', 'BZ', 'CA', 'CC', 'CD', 'CF', 'CG', 'CH', 'CI', 'CK',
    'CL', 'CM', 'CN', 'CO', 'CR', 'CU', 'CV', 'CW', 'CX', 'CY', 'CZ', 'DE', 'DJ', 'DK', 'DM',
    'DO', 'DZ', 'EC', 'EE', 'EG', 'EH', 'ER', 'ES', 'ET', 'FI', 'FJ', 'FK', 'FM', 'FO', 'FR',
    'GA', 'GB', 'GD', 'GE', 'GF', 'GG', 'GH', 'GI', 'GL', 'GM', 'GN', 'GP', 'GQ', 'GR', 'GS',
    'GT', 'GU', 'GW', 'GY', 'HK', 'HM', 'HN', 'HR', 'HT', 'HU', 'ID', 'IE', 'IL', 'IM', 'IN',
    'IO', 'IQ', 'IR', 'IS', 'IT', 'JE', 'JM', 'JO', 'JP', 'KE', 'KG', 'KH', 'KI', 'KM', 'KN',
    'KP', 'KR', 'KW', 'KY', 'KZ', 'LA', 'LB', 'LC', 'LI', 'LK', 'LR', 'LS', 'LT', 'LU', 'LV',
    'LY', 'MA', 'MC', 'MD', 'ME', 'MF', 'MG', 'MH', 'MK', 'ML', 'MM', 'MN', 'MO', 'MP', 'MQ',
    'MR', 'MS', 'MT', 'MU', 'MV', 'MW', 'MX', 'MY', 'MZ', 'NA', 'NC', 'NE', 'NF', 'NG', 'NI',
    'NL', 'NO', 'NP', 'NR', 'NU', 'NZ', 'OM', 'PA', 'PE', 'PF', 'PG', 'PH', 'PK', 'PL', 'PM',
    'PN', 'PR', 'PS', 'PT', 'PW', 'PY', 'QA', 'RE', 'RO', 'RS', 'RU', 'RW', 'SA', 'SB', 'SC',
    'SD', 'SE', 'SG', 'SH', 'SI', 'SJ', 'SK', 'SL', 'SM', 'SN', 'SO', 'SR', 'SS', 'ST', 'SV',
    'SX', 'SY', 'SZ', 'TC', 'TD', 'TF', 'TG', 'TH', 'TJ', 'TK', 'TL', 'TM', 'TN', 'TO', 'TR',
    'TT', 'TV', 'TW', 'TZ', 'UA', 'UG', 'UM', 'US', 'UY', 'UZ', 'VA', 'VC', 'VE', 'VG', 'VI',
    'VN', 'VU', 'WF', 'WS', 'XK', 'YE', 'YT', 'ZA', 'ZM', 'ZW',
];

// Interface language code -> CLDR locale. Only the entries that differ or need a word:
//   zh     Simplified Chinese (CLDR's zh is the Hans script)
//   zh_TW  Traditional Chinese (zh-Hant, the script Taiwan writes; not zh-Hant-HK)
//   nb     Norwegian Bokmal has its own locale; "no" is only an alias of it
//   sr     Serbian in Cyrillic, CLDR's default script for sr (sr-Latn is the Latin one)
//   ku     Kurmanji Kurdish in Latin script, CLDR's default for ku (ku-Arab is Sorani-like)
//   pt     Brazilian Portuguese, CLDR's default for pt (pt-PT is the European one)
//   tl     CLDR has no tl; Filipino (fil) is the standard register of Tagalog
//   az, bs, uz: Latin script defaults; mn: Cyrillic; pa: Gurmukhi; ms, ha, yo: defaults
const LOCALE_OF = { zh_TW: 'zh-Hant', tl: 'fil' };

// The 83 interface languages, in the order of the translation tables.
// prettier-ignore
const LANGS = [
    'af', 'am', 'ar', 'az', 'be', 'bg', 'bn', 'bs', 'ca', 'cs', 'da', 'de', 'el', 'en', 'es',
    'et', 'eu', 'fa', 'fi', 'fr', 'gl', 'gu', 'ha', 'he', 'hi', 'hr', 'hu', 'hy', 'id', 'ig',
    'is', 'it', 'ja', 'ka', 'kk', 'km', 'kn', 'ko', 'ku', 'ky', 'lo', 'lt', 'lv', 'mg', 'mk',
    'ml', 'mn', 'mr', 'ms', 'my', 'nb', 'ne', 'nl', 'pa', 'pl', 'ps', 'pt', 'ro', 'ru', 'rw',
    'si', 'sk', 'sl', 'so', 'sq', 'sr', 'sv', 'sw', 'ta', 'te', 'tg', 'th', 'tk', 'tl', 'tr',
    'uk', 'ur', 'uz', 'vi', 'yo', 'zh', 'zh_TW', 'zu',
];

function fail(msg) {
    process.stderr.write(`make_country_names: ${msg}\n`);
    process.exit(1);
}

function territories(locale) {
    const file = path.join(CLDR, locale, 'territories.json');
    let json;
    try {
        json = JSON.parse(fs.readFileSync(file, 'utf8'));
    } catch (e) {
        fail(`cannot read ${file}: ${e.message}`);
    }
    const main = json.main && json.main[locale];
    if (!main || !main.localeDisplayNames || !main.localeDisplayNames.territories)
        fail(`${file}: no territory names`);
    return main.localeDisplayNames.territories;
}

// A C++ string literal for the name. Letters of every script stay readable as UTF-8;
// control, format and unusual space characters (the bidirectional marks some right-to-left
// names carry) are written as universal character names, so no invisible character sits
// in the source and the compiler's bidi-character warnings stay quiet.
function literal(text) {
    let out = '"';
    for (const ch of text) {
        const cp = ch.codePointAt(0);
        if (ch === '"' || ch === '\\') out += '\\' + ch;
        else if (cp >= 0x20 && cp < 0x7f) out += ch;
        else if (cp < 0x80 || /[\p{C}\p{Z}]/u.test(ch))
            out += cp > 0xffff ? '\\U' + cp.toString(16).padStart(8, '0') : '\\u' + cp.toString(16).padStart(4, '0');
        else out += ch;
    }
    return out + '"';
}

function check() {
    if (CODES.length !== 250) fail(`${CODES.length} codes, expected 250`);
    if (LANGS.length !== 83) fail(`${LANGS.length} languages, expected 83`);
    for (let i = 1; i < CODES.length; i++)
        if (CODES[i - 1] >= CODES[i]) fail(`codes out of order at ${CODES[i]}`);
}

function main() {
    check();
    const outDir = path.resolve(process.argv[2] || path.join(__dirname, '..', 'src', 'data'));
    const english = territories('en');
    for (const c of CODES) if (!english[c] || english[c] === c) fail(`no English name for ${c}`);

    const tables = [];
    const report = [];
    for (const lang of LANGS) {
        const locale = LOCALE_OF[lang] || lang;
        const names = territories(locale);
        const missing = [];
        const row = CODES.map((c) => {
            const n = names[c];
            if (typeof n === 'string' && n.trim() !== '' && n !== c) return n;
            missing.push(c);
            return english[c];
        });
        tables.push({ lang, locale, row });
        if (missing.length) report.push(`${lang} (${locale}): ${missing.length} in English: ${missing.join(' ')}`);
    }

    const version = require(path.join(CLDR, '..', 'package.json')).version;
    const banner = `// Generated by tools/make_country_names.js from the Unicode CLDR ${version} territory
// names (npm cldr-localenames-full). Do not edit; run the generator again.`;
    const header = `${banner}
#pragma once

#include <cstddef>

namespace country_data {

inline constexpr std::size_t CODE_COUNT = ${CODES.length};
inline constexpr std::size_t LANG_COUNT = ${LANGS.length};

// One interface language: its code ("de", "zh_TW") and the name of every code of CODES,
// in the same order, written in that language.
struct Lang {
    const char* code;
    const char* names[CODE_COUNT];
};

// ISO 3166-1 alpha-2 codes in ascending order, plus XK (Kosovo).
extern const char* const CODES[CODE_COUNT];

extern const Lang LANGS[LANG_COUNT];

} // namespace country_data
`;

    let cpp = `${banner}
// clang-format off
#include "data/country_data.h"

namespace country_data {

const char* const CODES[CODE_COUNT] = {
`;
    for (let i = 0; i < CODES.length; i += 15)
        cpp += '    ' + CODES.slice(i, i + 15).map((c) => `"${c}",`).join(' ') + '\n';
    cpp += '};\n\nconst Lang LANGS[LANG_COUNT] = {\n';
    for (const t of tables) {
        cpp += `    {"${t.lang}", { // CLDR ${t.locale}\n`;
        t.row.forEach((n, i) => {
            cpp += `        ${literal(n)}, // ${CODES[i]}\n`;
        });
        cpp += '    }},\n';
    }
    cpp += '};\n\n} // namespace country_data\n';

    fs.mkdirSync(outDir, { recursive: true });
    fs.writeFileSync(path.join(outDir, 'country_data.h'), header);
    fs.writeFileSync(path.join(outDir, 'country_data.cpp'), cpp);
    process.stdout.write(`country_data: ${CODES.length} codes x ${LANGS.length} languages, CLDR ${version}\n`);
    for (const line of report) process.stdout.write(`  ${line}\n`);
}

main();
