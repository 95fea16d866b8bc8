// SPDX-FileCopyrightText: 2026 The gradebook authors
// SPDX-License-Identifier: MIT
// Node's half of web/run-wasi, which starts it as
//   node run-wasi.mjs CLOSED PROGRAM.wasm [ARGUMENT...]
// CLOSED lists the standard descriptors that were closed ("0,1", or empty).
import { readFileSync } from "node:fs";
import { WASI } from "node:wasi";

const [closedList, program, ...args] = process.argv.slice(2);
const closed = new Set(closedList ? closedList.split(",").map(Number) : []);

const wasi = new WASI({ version: "preview1", args: [program, ...args], env: {},
                        returnOnExit: true });
// A closed descriptor stays closed for the program: every call on it fails with
// EBADF, as the system's would.
const EBADF = 8;
const imports = { ...wasi.wasiImport };
for (const name of ["fd_read", "fd_write", "fd_fdstat_get", "fd_seek", "fd_close"]) {
    const call = wasi.wasiImport[name];
    imports[name] = (fd, ...rest) => (closed.has(fd) ? EBADF : call(fd, ...rest));
}

// A module built with Asyncify (the page's) has every read wait first, as a read
// may in the page (web/wasi.js): the program's stack is unwound out of fd_read and
// rewound into it before the read is done. Each read takes one byte at most, so
// the program waits wherever it can read. So the suite also checks that every
// function that can be on the stack then was built to be unwound.
let exports;
const UNWINDING = 1, REWINDING = 2; // asyncify_get_state()
const SAVED_STACK = 1024; // up to the program's data, as in the page
const read = imports.fd_read;
imports.fd_read = (...rest) => {
    if (!exports.asyncify_get_state) {
        return read(...rest);
    }
    if (exports.asyncify_get_state() === REWINDING) {
        exports.asyncify_stop_rewind();
        // The first buffer with room, cut to one byte for the call.
        const [fd, iovs, count, nread] = rest;
        const view = new DataView(exports.memory.buffer);
        let iov = iovs;
        while (iov < iovs + 8 * count && view.getUint32(iov + 4, true) === 0) {
            iov += 8;
        }
        if (iov === iovs + 8 * count) {
            return read(...rest);
        }
        const length = view.getUint32(iov + 4, true);
        view.setUint32(iov + 4, 1, true);
        const error = read(fd, iov, 1, nread);
        view.setUint32(iov + 4, length, true);
        return error;
    }
    const view = new DataView(exports.memory.buffer);
    view.setUint32(SAVED_STACK, SAVED_STACK + 8, true);
    view.setUint32(SAVED_STACK + 4, exports.__global_base.value, true);
    exports.asyncify_start_unwind(SAVED_STACK);
    return 0; // not seen
};

const { instance } = await WebAssembly.instantiate(readFileSync(program),
                                                   { wasi_snapshot_preview1: imports });
exports = instance.exports;
const start = () => {
    exports._start();
    while (exports.asyncify_get_state && exports.asyncify_get_state() === UNWINDING) {
        exports.asyncify_stop_unwind();
        exports.asyncify_start_rewind(SAVED_STACK);
        exports._start();
    }
};
process.exitCode = wasi.start({ exports: { memory: exports.memory, _start: start } });
