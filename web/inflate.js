// SPDX-FileCopyrightText: 2026 The gradebook authors
// SPDX-License-Identifier: MIT
//
// gunzip(bytes): the gzip'd module inflated (RFC 1951 and 1952), for browsers
// without DecompressionStream (page.js). It runs once a page, on one known file, so
// it is short rather than fast, and checks only what would otherwise go unseen.
"use strict";

function gunzip(data) {
    const LENGTH_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43,
                         51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258];
    const LENGTH_EXTRA = [0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4,
                          4, 4, 5, 5, 5, 5, 0];
    const DISTANCE_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257,
                           385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289,
                           16385, 24577];
    const DISTANCE_EXTRA = [0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9,
                            10, 10, 11, 11, 12, 12, 13, 13];
    // The order in which a dynamic block gives its code length code's lengths.
    const ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15];
    const fail = (why) => {
        throw new Error(`gunzip: ${why}`);
    };

    if (data[0] !== 0x1f || data[1] !== 0x8b || data[2] !== 8) {
        fail("not gzip");
    }
    // The header's optional fields: extra, name, comment, header checksum.
    const flags = data[3];
    let at = 10;
    if (flags & 4) {
        at += 2 + (data[at] | (data[at + 1] << 8));
    }
    for (const flag of [8, 16]) {
        if (flags & flag) {
            while (data[at++]) {
                // to the end of the zero-ended string
            }
        }
    }
    if (flags & 2) {
        at += 2;
    }
    const end = data.length - 4;
    const out = new Uint8Array((data[end] | (data[end + 1] << 8) | (data[end + 2] << 16) |
                                (data[end + 3] << 24)) >>> 0);
    let written = 0;

    // Bits come from the least significant end of each byte.
    let buffer = 0, count = 0;
    const bits = (n) => {
        while (count < n) {
            if (at >= end) {
                fail("cut short");
            }
            buffer |= data[at++] << count;
            count += 8;
        }
        const value = buffer & ((1 << n) - 1);
        buffer >>>= n;
        count -= n;
        return value;
    };

    // A canonical Huffman code from its code lengths: how many codes of each length,
    // and the symbols in code order.
    const code = (lengths) => {
        const counts = new Array(16).fill(0);
        for (const length of lengths) {
            ++counts[length];
        }
        counts[0] = 0;
        const next = [0];
        for (let length = 1; length < 16; ++length) {
            next[length] = next[length - 1] + counts[length - 1];
        }
        const symbols = [];
        lengths.forEach((length, symbol) => {
            if (length) {
                symbols[next[length]++] = symbol;
            }
        });
        return { counts, symbols };
    };
    const decode = ({ counts, symbols }) => {
        let value = 0, first = 0, index = 0;
        for (let length = 1; length < 16; ++length) {
            value |= bits(1);
            if (value - first < counts[length]) {
                return symbols[index + value - first];
            }
            index += counts[length];
            first = (first + counts[length]) << 1;
            value <<= 1;
        }
        return fail("bad code");
    };
    const fixedLiterals = code(Array.from({ length: 288 }, (_, symbol) =>
        (symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8)));
    const fixedDistances = code(new Array(30).fill(5));

    let last = 0;
    while (!last) {
        last = bits(1);
        const type = bits(2);
        if (type === 0) {
            buffer = count = 0; // to the next byte
            const length = data[at] | (data[at + 1] << 8);
            out.set(data.subarray(at + 4, at + 4 + length), written);
            at += 4 + length;
            written += length;
            continue;
        }
        let literals = fixedLiterals, distances = fixedDistances;
        if (type === 2) {
            const literalCount = bits(5) + 257, distanceCount = bits(5) + 1;
            const lengthLengths = new Array(19).fill(0);
            for (let i = 0, n = bits(4) + 4; i < n; ++i) {
                lengthLengths[ORDER[i]] = bits(3);
            }
            const lengthCode = code(lengthLengths);
            const lengths = [];
            while (lengths.length < literalCount + distanceCount) {
                const symbol = decode(lengthCode);
                if (symbol < 16) {
                    lengths.push(symbol);
                } else {
                    const repeated = symbol === 16 ? lengths[lengths.length - 1] : 0;
                    const times = symbol === 16 ? 3 + bits(2) : symbol === 17 ? 3 + bits(3)
                                                                               : 11 + bits(7);
                    for (let i = 0; i < times; ++i) {
                        lengths.push(repeated);
                    }
                }
            }
            literals = code(lengths.slice(0, literalCount));
            distances = code(lengths.slice(literalCount));
        } else if (type !== 1) {
            fail("bad block");
        }
        for (;;) {
            const symbol = decode(literals);
            if (symbol < 256) {
                out[written++] = symbol;
            } else if (symbol === 256) {
                break;
            } else {
                const length = LENGTH_BASE[symbol - 257] + bits(LENGTH_EXTRA[symbol - 257]);
                const distance = decode(distances);
                const from = written - DISTANCE_BASE[distance] - bits(DISTANCE_EXTRA[distance]);
                for (let i = 0; i < length; ++i) {
                    out[written++] = out[from + i];
                }
            }
        }
    }
    if (written !== out.length) {
        fail("wrong length");
    }
    return out;
}
