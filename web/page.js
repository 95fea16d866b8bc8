// SPDX-FileCopyrightText: 2026 The gradebook authors
// SPDX-License-Identifier: MIT
//
// The page's glue: the transcript, the answer field and the answers queued for the
// program, the end of input, and the end of a run. The program runs through
// runWasiProgram (wasi.js).
//
// It runs in every engine with WebAssembly (Chrome 57, Firefox 52, Safari 11 on):
// ES2017 at most, and newer interfaces only where they are found.
//
// The page behaves as a console: the program is handed one line per read, and the
// line is shown in the transcript as the program takes it, so answers typed or
// pasted ahead wait in turn and the transcript reads as if each had been typed at
// its prompt.
"use strict";

const transcript = document.getElementById("transcript");
const form = document.getElementById("answer-form");
const field = document.getElementById("answer");
const sendButton = document.getElementById("send");
const endButton = document.getElementById("end-input");
const queued = document.getElementById("queued");
const end = document.getElementById("end");
const exitStatus = document.getElementById("exit-status");
const restart = document.getElementById("restart");
const failed = document.getElementById("failed");
const failure = document.getElementById("failure");

// The module, gzip'd in the page (web/assemble.mjs), is inflated as it is compiled,
// once, at the first run, after the page has had the chance to show itself: by the
// browser where it can (Chrome 80, Firefox 113, Safari 16.4 on, which all have
// compileStreaming too), or else by gunzip (inflate.js) and then compiled.
const compile = () => new Promise((resolve) => setTimeout(resolve)).then(() => {
    const text = atob(document.getElementById("program").textContent);
    const bytes = new Uint8Array(text.length);
    for (let i = 0; i < text.length; ++i) {
        bytes[i] = text.charCodeAt(i);
    }
    if (typeof DecompressionStream !== "function" || !Blob.prototype.stream ||
        !WebAssembly.compileStreaming) {
        return WebAssembly.compile(gunzip(bytes));
    }
    const inflated = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("gzip"));
    return WebAssembly.compileStreaming(new Response(inflated, {
        headers: { "Content-Type": "application/wasm" },
    }));
});

let program = null; // once compiled, the module of every run
const encoder = new TextEncoder();
let run = null; // the input and output of the run under way

// What the program wrote and the lines it took gather here and are shown at once
// when it waits or ends: until then the page could not draw anything anyway, and
// drawing a long transcript after every write would take longer than the run.
const unshown = document.createDocumentFragment();

function show(text, className = "") {
    const last = unshown.lastChild;
    if (!text) {
        return;
    } else if (className) {
        const span = document.createElement("span");
        span.className = className;
        span.textContent = text;
        unshown.append(span);
    } else if (last && last.nodeType === Node.TEXT_NODE) {
        last.appendData(text);
    } else {
        unshown.append(text);
    }
}

function showNow() {
    transcript.append(unshown); // which leaves it empty
    transcript.scrollTop = transcript.scrollHeight;
}

function setInputEnabled(enabled) {
    field.disabled = sendButton.disabled = endButton.disabled = !enabled;
}

function showQueued() {
    const count = run ? run.lines.length : 0;
    queued.textContent = count ? `Czeka na odczyt: ${count}.` : "";
}

// Queues text for the program; `ended` ends the input after it.
function send(lines, ended = false) {
    if (!run || run.ended) {
        return;
    }
    run.lines.push(...lines.filter((line) => line !== ""));
    run.ended = ended;
    showQueued();
    if (run.wake) {
        run.wake();
        run.wake = null;
    }
}

function startRun() {
    const decoder = new TextDecoder();
    const current = {
        lines: [], // texts not yet taken by the program, each a line but the last one
        taking: new Uint8Array(0), // the rest of the line being read
        ended: false,
        wake: null,
    };
    run = current;
    transcript.textContent = unshown.textContent = "";
    end.hidden = failed.hidden = failure.hidden = true;
    setInputEnabled(true);
    field.value = "";
    showQueued();
    field.focus();

    const terminal = {
        read(max) {
            if (current.taking.length === 0) {
                if (current.lines.length === 0) {
                    return current.ended ? new Uint8Array(0) : null;
                }
                const line = current.lines.shift();
                show(line, "answer");
                showQueued();
                current.taking = encoder.encode(line);
            }
            const part = current.taking.subarray(0, max);
            current.taking = current.taking.subarray(part.length);
            return part;
        },
        wait: () => new Promise((resolve) => {
            showNow();
            current.wake = resolve;
        }),
        write: (data) => show(decoder.decode(data, { stream: true })),
    };

    // A failure to start or to run is told in the page's words, its detail below.
    program = program || compile();
    program
        .then((module) => runWasiProgram(module, terminal))
        .then((status) => String(status), (error) => {
            failure.textContent = String(error);
            return null;
        })
        .then((status) => {
            show(decoder.decode());
            showNow();
            run = null;
            setInputEnabled(false);
            showQueued();
            exitStatus.textContent = status;
            exitStatus.parentNode.hidden = status === null;
            failed.hidden = failure.hidden = status !== null;
            end.hidden = false;
            transcript.scrollTop = transcript.scrollHeight; // it has just shrunk
            restart.focus();
        });
}

form.addEventListener("submit", (event) => {
    event.preventDefault();
    send([field.value + "\n"]);
    field.value = "";
});

// Ctrl-D ends the input, after what the field holds, as on a console.
function endInput() {
    send([field.value], true);
    field.value = "";
    field.focus();
}
field.addEventListener("keydown", (event) => {
    if (event.ctrlKey && !event.altKey && !event.metaKey && event.key.toLowerCase() === "d") {
        event.preventDefault();
        endInput();
    }
});
endButton.addEventListener("click", endInput);

// A field holds one line: pasted lines are sent in turn, the last one's start
// stays in the field.
field.addEventListener("paste", (event) => {
    const text = event.clipboardData && event.clipboardData.getData("text/plain");
    if (!text || !/[\r\n]/.test(text)) {
        return;
    }
    event.preventDefault();
    const whole = field.value.slice(0, field.selectionStart) + text +
                  field.value.slice(field.selectionEnd);
    const lines = whole.split(/\r\n|\r|\n/);
    field.value = lines.pop();
    send(lines.map((line) => line + "\n"));
});

restart.addEventListener("click", startRun);
// Where there is no WebAssembly, the script before this one has said so instead.
if (document.getElementById("no-webassembly").hidden) {
    startRun();
}
