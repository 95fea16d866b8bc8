// SPDX-FileCopyrightText: 2026 The gradebook authors
// SPDX-License-Identifier: MIT
// Node's half of harness/run-wasi, which starts it as
//   node run-wasi.mjs CLOSED PROGRAM.wasm
// CLOSED lists the standard descriptors that were closed ("0,1", or empty).
// The program runs through the page's own glue, web/wasi.js, with this process's
// standard input, output and error as its terminal.
import { readFileSync, readSync, writeSync } from "node:fs";
import { runInThisContext } from "node:vm";

const [closedList, program] = process.argv.slice(2);
const glue = new URL("../web/wasi.js", import.meta.url);
runInThisContext(readFileSync(glue, "utf8"), { filename: glue.pathname });

// The system's errors as WASI numbers them; any other is an I/O error.
const ERRNO = { EBADF: 8, EFBIG: 22, EISDIR: 31, ENOSPC: 51, EPIPE: 64 };
const EIO = 29;
const failed = (call) => {
    try {
        return call();
    } catch (error) {
        return -(ERRNO[error.code] || EIO);
    }
};

// Every read waits first, as a read may in the page, and then takes one byte at
// most: the program's stack is unwound out of fd_read wherever it can read, so the
// suite checks that every function that can be on the stack then was built to be
// unwound (web/read-path.txt).
let waited = false;
const terminal = {
    closed: closedList ? closedList.split(",").map(Number) : [],
    read() {
        waited = !waited;
        if (waited) {
            return null;
        }
        const byte = new Uint8Array(1);
        const count = failed(() => readSync(0, byte, 0, 1, null));
        return count < 0 ? -count : byte.subarray(0, count);
    },
    wait: () => Promise.resolve(),
    write(data, fd) {
        for (let done = 0; done < data.length;) {
            const count = failed(() => writeSync(fd, data, done));
            if (count < 0) {
                return -count;
            }
            done += count;
        }
        return 0;
    },
};

const module = await WebAssembly.compile(readFileSync(program));
process.exitCode = await runWasiProgram(module, terminal);
