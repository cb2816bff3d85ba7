#!/usr/bin/env node
// Builds Velmora's country range table (geoip.bin) from the DB-IP "IP to Country Lite"
// data (CC BY 4.0, "IP Geolocation by DB-IP", https://db-ip.com) as packaged on npm by
// @ip-location-db/dbip-country.
//
//   node make_geoip.js [--v4 file.csv] [--v6 file.csv] --out geoip.bin
//
// Input: CSV lines "first,last,CC" (inclusive ranges). The addresses may be written as
// addresses (1.0.0.0, 2001:200::) or as decimal numbers (the package's *-num.csv files,
// the default input). Anything malformed stops the conversion with an error: a table
// built from input we did not understand would give wrong countries without a trace.
//
// Output, all integers little-endian:
//   "VMGEO1", two zero bytes, N4 (u32), N4 x {a u32, b u32, cc 2 bytes},
//   N6 (u32), N6 x {a u64, b u64, cc 2 bytes}
// Both families sorted by a, free of overlaps, and adjacent ranges of one country merged.
//
// IPv6 ranges are keyed on /64 prefixes: the reader looks up an address by its upper 64
// bits only, so the table can hold one answer per /64. Ranges that start or end inside a
// /64 are handled thus:
//   - the whole /64s a range covers keep its country;
//   - every /64 that is only partly covered (by one range or by several countries) is
//     given to the country that holds most of its addresses; the addresses no range covers
//     do not compete, since a /64 is normally one subnet at one site and the listed part is
//     the best evidence of where the rest is. Ties go to the country of the lowest part.
// A partly covered /64 can never also be covered whole by another range, because the
// input ranges do not overlap; so the resulting /64 ranges do not overlap either.
'use strict';

const fs = require('fs');
const path = require('path');

const DATA_DIR = path.join(__dirname, 'node_modules', '@ip-location-db', 'dbip-country');
const MASK64 = (1n << 64n) - 1n;

function fail(msg) {
    process.stderr.write(`make_geoip: ${msg}\n`);
    process.exit(1);
}

function parseIPv4(text) {
    const parts = text.split('.');
    if (parts.length !== 4) return null;
    let v = 0;
    for (const p of parts) {
        if (!/^[0-9]{1,3}$/.test(p) || Number(p) > 255) return null;
        v = v * 256 + Number(p);
    }
    return v;
}

// Returns the address as a 128-bit BigInt, or null.
function parseIPv6(text) {
    let tail = [];
    // A trailing dotted quad (::ffff:1.2.3.4) stands for the last two groups.
    if (text.includes('.')) {
        const colon = text.lastIndexOf(':');
        const v4 = parseIPv4(text.slice(colon + 1));
        if (colon < 0 || v4 === null) return null;
        tail = [Math.floor(v4 / 65536), v4 % 65536];
        text = text.slice(0, colon + 1);
        if (!text.endsWith('::')) text = text.slice(0, -1);
    }
    const halves = text.split('::');
    if (halves.length > 2) return null;
    const groups = (s) => (s === '' ? [] : s.split(':'));
    const head = groups(halves[0]);
    const rest = halves.length === 2 ? groups(halves[1]) : [];
    const explicit = head.length + rest.length + tail.length;
    if (halves.length === 1 && explicit !== 8) return null;
    if (halves.length === 2 && explicit > 7) return null;
    const all = [...head, ...Array(8 - explicit).fill('0'), ...rest];
    let v = 0n;
    for (const g of all) {
        if (!/^[0-9a-fA-F]{1,4}$/.test(g)) return null;
        v = (v << 16n) | BigInt(parseInt(g, 16));
    }
    for (const g of tail) v = (v << 16n) | BigInt(g);
    return v;
}

function parseNumber(text, bits) {
    if (!/^[0-9]+$/.test(text)) return null;
    const v = BigInt(text);
    return v < 1n << BigInt(bits) ? v : null;
}

// Reads "first,last,CC" lines into [{a, b, cc}] with BigInt bounds.
function readRanges(file, bits) {
    let text;
    try {
        text = fs.readFileSync(file, 'utf8');
    } catch (e) {
        fail(`cannot read ${file}: ${e.message}`);
    }
    const out = [];
    const lines = text.split(/\r?\n/);
    lines.forEach((line, i) => {
        if (line.trim() === '') return;
        const f = line.split(',').map((s) => s.trim());
        const where = `${file}:${i + 1}`;
        if (f.length !== 3) fail(`${where}: expected three fields`);
        const conv = (s) => {
            if (bits === 32 && s.includes('.')) {
                const v = parseIPv4(s);
                return v === null ? null : BigInt(v);
            }
            if (bits === 128 && s.includes(':')) return parseIPv6(s);
            return parseNumber(s, bits);
        };
        const a = conv(f[0]);
        const b = conv(f[1]);
        if (a === null || b === null) fail(`${where}: not an IPv${bits === 32 ? 4 : 6} range`);
        if (a > b) fail(`${where}: range ends before it starts`);
        if (!/^[A-Z]{2}$/.test(f[2])) fail(`${where}: country code "${f[2]}" is not two letters`);
        out.push({ a, b, cc: f[2] });
    });
    out.sort((x, y) => (x.a < y.a ? -1 : x.a > y.a ? 1 : 0));
    for (let i = 1; i < out.length; i++) {
        if (out[i].a <= out[i - 1].b) fail(`${file}: ranges overlap at line with ${out[i].a}`);
    }
    return out;
}

// Joins neighbours of one country; input sorted and free of overlaps.
function merge(ranges) {
    const out = [];
    for (const r of ranges) {
        const last = out[out.length - 1];
        if (last && last.cc === r.cc && last.b + 1n === r.a) last.b = r.b;
        else out.push({ ...r });
    }
    return out;
}

// Maps 128-bit ranges to /64 prefix ranges as described at the top of this file.
function toPrefixes(ranges) {
    const whole = [];
    const partial = new Map(); // prefix -> [{cc, count}] in address order
    const addPart = (p, cc, count) => {
        if (!partial.has(p)) partial.set(p, []);
        partial.get(p).push({ cc, count });
    };
    for (const { a, b, cc } of ranges) {
        const p = a >> 64n;
        const q = b >> 64n;
        const headCut = (a & MASK64) !== 0n;
        const tailCut = (b & MASK64) !== MASK64;
        if (p === q) {
            if (headCut || tailCut) addPart(p, cc, b - a + 1n);
            else whole.push({ a: p, b: p, cc });
            continue;
        }
        let first = p;
        let last = q;
        if (headCut) {
            addPart(p, cc, (1n << 64n) - (a & MASK64));
            first = p + 1n;
        }
        if (tailCut) {
            addPart(q, cc, (b & MASK64) + 1n);
            last = q - 1n;
        }
        if (first <= last) whole.push({ a: first, b: last, cc });
    }
    let split = 0;
    for (const [p, parts] of partial) {
        const totals = new Map();
        for (const { cc, count } of parts) totals.set(cc, (totals.get(cc) || 0n) + count);
        if (totals.size > 1) split++;
        let best = null;
        for (const [cc, n] of totals) if (best === null || n > best.n) best = { cc, n };
        whole.push({ a: p, b: p, cc: best.cc });
    }
    whole.sort((x, y) => (x.a < y.a ? -1 : x.a > y.a ? 1 : 0));
    for (let i = 1; i < whole.length; i++) {
        if (whole[i].a <= whole[i - 1].b) fail(`internal error: /64 ranges overlap at ${whole[i].a}`);
    }
    return { ranges: merge(whole), partial: partial.size, split };
}

function encode(v4, v6) {
    const buf = Buffer.alloc(16 + 10 * v4.length + 18 * v6.length);
    buf.write('VMGEO1', 0, 'latin1');
    let o = 8;
    buf.writeUInt32LE(v4.length, o);
    o += 4;
    for (const r of v4) {
        buf.writeUInt32LE(Number(r.a), o);
        buf.writeUInt32LE(Number(r.b), o + 4);
        buf.write(r.cc, o + 8, 'latin1');
        o += 10;
    }
    buf.writeUInt32LE(v6.length, o);
    o += 4;
    for (const r of v6) {
        buf.writeBigUInt64LE(r.a, o);
        buf.writeBigUInt64LE(r.b, o + 8);
        buf.write(r.cc, o + 16, 'latin1');
        o += 18;
    }
    return buf;
}

function main(argv) {
    const opts = {
        v4: path.join(DATA_DIR, 'dbip-country-ipv4-num.csv'),
        v6: path.join(DATA_DIR, 'dbip-country-ipv6-num.csv'),
        out: null,
    };
    for (let i = 0; i < argv.length; i += 2) {
        const key = argv[i].replace(/^--/, '');
        if (!(key in opts) || i + 1 >= argv.length) fail(`usage: make_geoip.js [--v4 f] [--v6 f] --out f`);
        opts[key] = argv[i + 1];
    }
    if (!opts.out) fail('usage: make_geoip.js [--v4 f] [--v6 f] --out f');

    const v4 = merge(readRanges(opts.v4, 32));
    const v6in = readRanges(opts.v6, 128);
    const v6 = toPrefixes(v6in);
    const data = encode(v4, v6.ranges);

    // Written beside the target and renamed, so a reader never sees half a table.
    const tmp = `${opts.out}.tmp${process.pid}`;
    fs.mkdirSync(path.dirname(path.resolve(opts.out)), { recursive: true });
    fs.writeFileSync(tmp, data);
    fs.renameSync(tmp, opts.out);
    process.stdout.write(
        `${opts.out}: ${v4.length} IPv4 + ${v6.ranges.length} IPv6 ranges ` +
            `(${v6in.length} IPv6 input ranges, ${v6.partial} partly covered /64s, ` +
            `${v6.split} of them shared by several countries)\n`,
    );
}

main(process.argv.slice(2));
