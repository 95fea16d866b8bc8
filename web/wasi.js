// SPDX-FileCopyrightText: 2026 The gradebook authors
// SPDX-License-Identifier: MIT
//
// The WASI functions (wasi_snapshot_preview1) that the program imports, for a
// page: standard input comes from the page, standard output and error go to it,
// and there are no files, environment or arguments.
//
// The program reads its input synchronously, and a page must not block. The module
// is built with Asyncify (web/web.cmake): when fd_read has nothing to give,
// it unwinds the program's call stack into a buffer and _start returns; once input
// has come, _start is called again and rewinds the stack into the same fd_read
// call, which now returns the input.
"use strict";

// Runs one instance of `module` to its end and resolves to its exit status.
// `terminal` is the page's side (or the tests' under Node, harness/run-wasi.mjs):
//   read(max)   the next input, at most `max` bytes: a Uint8Array, empty at the
//               end of input, null while there is none yet, or a WASI error number;
//   wait()      a promise that settles when read() may have something;
//   write(data, fd) shows the bytes the program wrote to standard output (1) or
//               error (2), a copy that is its own to keep; it may answer a WASI
//               error number;
//   closed      optionally, the standard descriptors that are not open.
// The module's imports and exports carry no 64-bit integer (web/web.cmake), which
// engines before BigInt could not pass.
async function runWasiProgram(module, terminal) {
    const SUCCESS = 0, EBADF = 8, ESPIPE = 70;
    const CHARACTER_DEVICE = 2;
    const RIGHT_FD_READ = 0x2, RIGHT_FD_WRITE = 0x40;
    const UNWINDING = 1, REWINDING = 2; // asyncify_get_state()
    // The saved stack lives from here up to the program's data, __global_base
    // (web/web.cmake says why there).
    const SAVED_STACK = 1024;

    class Exit {
        constructor(status) {
            this.status = status;
        }
    }

    const closed = terminal.closed || [];
    const open = (fd) => fd >= 0 && fd <= 2 && !closed.includes(fd);

    let exports;
    // memory.grow detaches every earlier view of the memory: a new one each call.
    const memory = () => new DataView(exports.memory.buffer);
    const bytes = (address, length) =>
        new Uint8Array(exports.memory.buffer, address, length);
    // The (address, length) pairs of an iovec array.
    const iovecs = (address, count) => {
        const view = memory();
        return Array.from({ length: count }, (_, i) => [
            view.getUint32(address + 8 * i, true),
            view.getUint32(address + 8 * i + 4, true),
        ]);
    };

    const imports = {
        fd_read(fd, iovs, count, nread) {
            if (fd !== 0 || !open(fd)) {
                return EBADF;
            }
            const buffers = iovecs(iovs, count);
            const room = buffers.reduce((sum, [, length]) => sum + length, 0);
            if (exports.asyncify_get_state() === REWINDING) {
                exports.asyncify_stop_rewind(); // back in the call that waited
            }
            const input = terminal.read(room);
            if (typeof input === "number") {
                return input;
            }
            if (input === null) {
                // Nothing yet: unwind (the return value is not seen).
                const view = memory();
                view.setUint32(SAVED_STACK, SAVED_STACK + 8, true);
                // An exported global is a WebAssembly.Global, or before those
                // (Chrome 69, Firefox 62, Safari 13.1) its number: valueOf() is both.
                view.setUint32(SAVED_STACK + 4, exports.__global_base.valueOf(), true);
                exports.asyncify_start_unwind(SAVED_STACK);
                return SUCCESS;
            }
            let done = 0;
            for (const [address, length] of buffers) {
                const part = input.subarray(done, done + length);
                bytes(address, part.length).set(part);
                done += part.length;
            }
            memory().setUint32(nread, done, true);
            return SUCCESS;
        },
        fd_write(fd, iovs, count, nwritten) {
            if ((fd !== 1 && fd !== 2) || !open(fd)) {
                return EBADF;
            }
            let done = 0;
            for (const [address, length] of iovecs(iovs, count)) {
                const error = terminal.write(bytes(address, length).slice(), fd);
                if (error) {
                    return error;
                }
                done += length;
            }
            memory().setUint32(nwritten, done, true);
            return SUCCESS;
        },
        // The standard descriptors are a console: a character device that cannot
        // seek, readable or writable.
        fd_fdstat_get(fd, stat) {
            if (!open(fd)) {
                return EBADF;
            }
            // Two 64-bit fields of rights, each as two 32-bit halves, low first.
            const view = memory();
            view.setUint8(stat, CHARACTER_DEVICE);
            view.setUint16(stat + 2, 0, true);
            view.setUint32(stat + 8, fd === 0 ? RIGHT_FD_READ : RIGHT_FD_WRITE, true);
            view.setUint32(stat + 12, 0, true);
            view.setUint32(stat + 16, 0, true);
            view.setUint32(stat + 20, 0, true);
            return SUCCESS;
        },
        // The C library seeks standard input back over what it had read ahead when
        // the program ends; a console cannot.
        fd_seek: (fd) => (open(fd) ? ESPIPE : EBADF),
        fd_close: (fd) => (open(fd) ? SUCCESS : EBADF),
        environ_sizes_get(count, size) {
            memory().setUint32(count, 0, true);
            memory().setUint32(size, 0, true);
            return SUCCESS;
        },
        environ_get: () => SUCCESS,
        proc_exit(status) {
            throw new Exit(status);
        },
    };

    const instance = await WebAssembly.instantiate(module, {
        wasi_snapshot_preview1: imports,
    });
    exports = instance.exports;
    try {
        exports._start();
        while (exports.asyncify_get_state() === UNWINDING) {
            exports.asyncify_stop_unwind();
            await terminal.wait();
            exports.asyncify_start_rewind(SAVED_STACK);
            exports._start();
        }
        return 0; // main returned 0; any other status comes through proc_exit
    } catch (error) {
        if (error instanceof Exit) {
            return error.status;
        }
        throw error;
    }
}
