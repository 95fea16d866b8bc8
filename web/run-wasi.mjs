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

const { instance } = await WebAssembly.instantiate(readFileSync(program),
                                                   { wasi_snapshot_preview1: imports });
process.exitCode = wasi.start(instance);
