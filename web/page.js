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
const blocks = document.getElementById("blocks");
const form = document.getElementById("answer-form");
const field = document.getElementById("answer");
const sendButton = document.getElementById("send");
const endButton = document.getElementById("end-input");
const decimal = document.getElementById("decimal");
const decimalSaid = document.getElementById("decimal-said");
const queued = document.getElementById("queued");
const controls = document.getElementById("controls");
const confirmEnd = document.getElementById("confirm-end");
const endMessage = document.getElementById("end-message");
const restart = document.getElementById("restart");
const failed = document.getElementById("failed");
const failure = document.getElementById("failure");
const failureText = document.getElementById("failure-text");
const marks = document.getElementById("marks");
const stored = document.getElementById("stored");
const confirmQuit = document.getElementById("confirm-quit");
const keys = document.getElementById("keys");

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

// The program's own words when it has added a grade: from then on, the run has
// something to lose.
const ADDED = "Dodano ocene \n";
// The end of its menu, and its question for a grade: where it waits for either.
const MENU_END = "[4] - Wyjdz z programu \n";
const GRADE_PROMPT = "Podaj ocene (1-6): ";
// A run works through answers queued ahead for about this long (ms), the time to
// lay out what they wrote included, then lets the page draw and take input before
// it goes on.
const SLICE = 10;
// The transcript is made of blocks of about this many characters, each cut at a
// line's end, in groups of GROUP blocks: the browser lays out only the last block
// and goes through the last group as output comes, and an answer after thousands
// costs what the first did.
const BLOCK = 2000;
const GROUP = 32;

// The page's turn: a task of its own, after what the browser has waiting. A new
// channel each time: Chrome 64, for one, delivers all the messages a port has
// waiting in one task, those posted meanwhile included, and the turns would run
// as one. A timer would do, but costs 4 ms a turn once timers nest.
let turn = null; // the channel of the turn to come, held until it comes
function nextTurn(then) {
    turn = new MessageChannel();
    turn.port1.onmessage = then;
    turn.port2.postMessage(null);
}

let block = null; // the transcript's last block
let blockLength = 0;
function newBlock() {
    let group = blocks.lastChild;
    if (!group || group.childNodes.length >= GROUP) {
        group = document.createElement("div");
        blocks.append(group);
    }
    block = document.createElement("div");
    blockLength = 0;
    group.append(block);
}

function show(text, className) {
    if (!text) {
        return;
    }
    if (blockLength >= BLOCK && block.lastChild.textContent.endsWith("\n")) {
        newBlock();
    }
    blockLength += text.length;
    const last = block.lastChild;
    if (!className && text.includes(",")) {
        // A grade listing may break after each comma (page.html): a <wbr> there,
        // which the transcript's text does not hold.
        const parts = text.split(",");
        parts.forEach((part, i) => {
            if (i < parts.length - 1) {
                block.append(part + ",", document.createElement("wbr"));
            } else if (part) {
                block.append(part);
            }
        });
    } else if (className) {
        const span = document.createElement("span");
        span.className = className;
        span.textContent = text;
        block.append(span);
    } else if (last && last.nodeType === Node.TEXT_NODE) {
        last.appendData(text);
    } else {
        block.append(text);
    }
}

// The newest output in view: the transcript's end, next to the field.
function showEnd() {
    if (!transcript.classList.contains("full") &&
            transcript.scrollHeight > transcript.clientHeight) {
        transcript.classList.add("full");
    }
    transcript.scrollTop = transcript.scrollHeight;
}

// The keys are named only while they do something.
function setInputEnabled(enabled) {
    field.disabled = sendButton.disabled = endButton.disabled = !enabled;
    keys.hidden = !enabled;
}

function showQueued() {
    const count = run ? run.lines.length : 0;
    queued.textContent = count ? `Odpowiedzi w kolejce: ${count}.` : "";
}

// A decimal comma in the field, or a mark's plus or minus: the hint that the
// program reads them otherwise stands out, and is said once. The answer goes to
// the program as typed all the same.
function showDecimalHint() {
    const comma = /\d,\d/.test(field.value);
    const sign = /\d[+-]/.test(field.value);
    if (comma !== decimal.classList.contains("warn") || sign === marks.hidden) {
        // The hint takes more room than before or less, and the transcript less or
        // more: its end stays in view if it was.
        const atEnd = transcript.scrollTop + transcript.clientHeight >=
                      transcript.scrollHeight - 1;
        decimal.classList.toggle("warn", comma);
        marks.hidden = !sign;
        marks.classList.toggle("warn", sign);
        decimalSaid.textContent = [comma ? decimal.textContent : "",
                                   sign ? marks.textContent : ""].join(" ").trim();
        if (atEnd) {
            showEnd();
        }
        // With the keyboard up in landscape the page may be taller than its view.
        if ((comma || sign) && document.documentElement.scrollHeight > innerHeight) {
            document.getElementById("hint").scrollIntoView(false);
        }
    }
}

// The grade that the program reads from the start of `line`, as it reads one: an
// optional sign, digits with at most one point, and an exponent after a digit;
// with what the pupil meant, when it differs by a comma, plus or minus after it.
// [read, meant] or null.
function gradeRead(line) {
    const found = /^[ \t-\r]*([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)(,\d+|[+-](?![\d.]))/
        .exec(line);
    if (!found || !(Number(found[1]) >= 1 && Number(found[1]) <= 6)) {
        return null;
    }
    return [String(Number(found[1])), found[1] + found[2]];
}

// Whether the program, waiting at its menu, would read `line` as option 4: its
// first item a whole number, an optional plus, as many zeros as may be, then 4,
// and no digit after it ("4.5" and "4,5" are 4, "41" is not).
function choosesToQuit(line) {
    return /^[ \t-\r]*\+?0*4(?![0-9])/.test(line);
}

// Queues text for the program; `ended` ends the input after it.
function send(lines, ended) {
    if (!run || run.ended) {
        return;
    }
    for (const line of lines) {
        if (line !== "") {
            run.lines.push(line);
        }
    }
    run.ended = Boolean(ended);
    showQueued();
    if (run.wake) {
        run.wake();
        run.wake = null;
    }
}

// A reload or closing the tab asks first while a run holds a grade.
function guard(event) {
    event.preventDefault();
    event.returnValue = "Oceny z tego przebiegu przepadną.";
    return event.returnValue;
}

function startRun() {
    const decoder = new TextDecoder();
    const current = {
        lines: [], // texts not yet taken by the program, each a line but the last one
        taking: new Uint8Array(0), // the rest of the line being read
        ended: false,
        wake: null,
        until: 0, // when the program lets the page have its turn
        resumed: 0, // when it last went on
        layout: 1, // the time laying out its output took, per time it ran
        graded: false,
        written: "", // the end of the output so far, where ADDED may have begun
        tail: "", // the end of the output so far, where a prompt may have begun
    };
    run = current;
    try {
        sessionStorage.removeItem(KEPT);
    } catch (error) {
        // as in keep()
    }
    blocks.textContent = "";
    transcript.classList.remove("full");
    newBlock();
    endMessage.textContent = "";
    restart.hidden = true;
    failed.hidden = failure.hidden = true;
    endButton.hidden = false;
    confirmEnd.hidden = confirmQuit.hidden = true;
    controls.hidden = false;
    stored.textContent = "";
    setInputEnabled(true);
    field.value = "";
    showDecimalHint();
    showQueued();
    field.focus();

    const terminal = {
        read(max) {
            if (current.taking.length === 0) {
                if (current.lines.length === 0) {
                    return current.ended ? new Uint8Array(0) : null;
                }
                if (performance.now() > current.until) {
                    return null; // the page's turn, then this read again
                }
                const line = current.lines.shift();
                const grade = current.tail.endsWith(GRADE_PROMPT) && gradeRead(line);
                stored.textContent = grade ? `Zapisano ${grade[0]}, nie ${grade[1]}.` : "";
                show(line, "answer");
                current.taking = encoder.encode(line);
            }
            const part = current.taking.subarray(0, max);
            current.taking = current.taking.subarray(part.length);
            return part;
        },
        wait: () => new Promise((resolve) => {
            const ran = performance.now() - current.resumed;
            showQueued();
            showEnd();
            if (ran > 1) {
                current.layout = (performance.now() - current.resumed - ran) / ran;
            }
            const resume = () => {
                current.resumed = performance.now();
                current.until = current.resumed + SLICE / (1 + current.layout);
                resolve();
            };
            if (current.lines.length) {
                nextTurn(resume);
            } else {
                current.wake = resume;
            }
        }),
        write(data) {
            const text = decoder.decode(data, { stream: true });
            show(text);
            current.tail = (current.tail + text).slice(-MENU_END.length);
            if (!current.graded) {
                const written = current.written + text;
                if (written.includes(ADDED)) {
                    current.graded = true;
                    window.addEventListener("beforeunload", guard);
                }
                current.written = written.slice(1 - ADDED.length);
            }
        },
    };

    current.atMenu = () => current.wake !== null && current.lines.length === 0 &&
        current.taking.length === 0 && current.tail.endsWith(MENU_END);

    // A failure to start or to run is told in the page's words, its detail below.
    program = program || compile();
    program
        .then((module) => runWasiProgram(module, terminal))
        .then((status) => String(status), (error) => {
            failureText.textContent = String(error);
            return null;
        })
        .then((status) => {
            show(decoder.decode());
            window.removeEventListener("beforeunload", guard);
            failed.hidden = failure.hidden = status !== null;
            if (status !== null) {
                // The status is for a teacher: a pupil may read 0 as a mark.
                endMessage.textContent = "Program zakończył pracę.";
                const detail = document.createElement("details");
                const summary = document.createElement("summary");
                summary.textContent = "Dla nauczyciela";
                detail.append(summary, `Kod wyjścia: ${status}.`);
                endMessage.append(" ", detail);
            }
            showEnded();
            keep();
        });
}

// The controls of a run that has ended, its end said.
function showEnded() {
    run = null;
    setInputEnabled(false);
    showQueued();
    confirmEnd.hidden = confirmQuit.hidden = true;
    controls.hidden = false;
    endButton.hidden = true;
    restart.hidden = false;
    showEnd(); // the transcript has just shrunk
    restart.focus();
}

// The transcript is kept for the tab, once a run has ended, or as the page goes
// while one holds grades (iOS leaves without asking: see guard), until a new run
// starts; a reload shows it again in place of a new run.
const KEPT = "gradebook-transcript";
function keep() {
    try {
        sessionStorage.setItem(KEPT, transcript.textContent);
    } catch (error) {
        // storage off or full: the page is as it was without it
    }
}
function kept() {
    try {
        const entry = performance.getEntriesByType("navigation")[0];
        const reloaded = entry ? entry.type === "reload" : performance.navigation.type === 1;
        return reloaded ? sessionStorage.getItem(KEPT) : null;
    } catch (error) {
        return null;
    }
}
const leaving = () => {
    if (run && run.graded) {
        keep();
    }
};
window.addEventListener("pagehide", leaving);
document.addEventListener("visibilitychange", () => {
    if (document.visibilityState === "hidden") {
        leaving();
    }
});

// The buttons never take the focus from the field on a tap, so the on-screen
// keyboard stays up; after any answer the field has the focus.
for (const button of [sendButton, endButton]) {
    button.addEventListener("mousedown", (event) => event.preventDefault());
}
// While a question of the page's is open, no answer is taken.
const asking = () => !confirmEnd.hidden || !confirmQuit.hidden;
function sendField() {
    send([field.value + "\n"]);
    field.value = "";
    showDecimalHint();
    field.focus();
}
form.addEventListener("submit", (event) => {
    event.preventDefault();
    if (asking()) {
        return;
    }
    // A grade typed at the menu would choose 4 and end the run with its grades:
    // the page asks first. The transcript stays the console's.
    if (run && run.graded && run.atMenu() && choosesToQuit(field.value)) {
        ask(confirmQuit, "quit-cancelled");
        return;
    }
    sendField();
});
field.addEventListener("input", showDecimalHint);

// Ctrl-D ends the input at once, after what the field holds, as on a console; the
// button asks first.
function endInput() {
    send([field.value], true);
    field.value = "";
    showDecimalHint();
    closeQuestions();
}
field.addEventListener("keydown", (event) => {
    if (event.ctrlKey && !event.altKey && !event.metaKey && event.key.toLowerCase() === "d") {
        event.preventDefault();
        if (asking()) {
            return;
        }
        endInput();
        field.focus();
    }
});
// The page's questions: one at a time, in place of the buttons; Escape or "no"
// goes back to the field.
function ask(question, focused) {
    controls.hidden = true;
    question.hidden = false;
    showEnd(); // the transcript has just shrunk
    document.getElementById(focused).focus();
}
function closeQuestions() {
    confirmEnd.hidden = confirmQuit.hidden = true;
    controls.hidden = false;
}
function cancelQuestion() {
    closeQuestions();
    field.focus();
}
endButton.addEventListener("click", () => ask(confirmEnd, "end-cancelled"));
document.getElementById("end-confirmed").addEventListener("click", endInput);
document.getElementById("quit-confirmed").addEventListener("click", () => {
    closeQuestions();
    sendField();
});
for (const question of [confirmEnd, confirmQuit]) {
    question.addEventListener("keydown", (event) => {
        if (event.key === "Escape" || event.key === "Esc") {
            event.preventDefault();
            cancelQuestion();
        }
    });
    question.querySelector("[id$=-cancelled]").addEventListener("click", cancelQuestion);
}

// The transcript as a text file, exactly as it reads, named with today's date.
document.getElementById("save").addEventListener("click", () => {
    const now = new Date();
    const day = [now.getFullYear(), now.getMonth() + 1, now.getDate()]
        .map((part) => String(part).padStart(2, "0")).join("-");
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([transcript.textContent],
                                             { type: "text/plain;charset=utf-8" }));
    link.download = `dziennik-ocen-${day}.txt`;
    link.hidden = true;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 1000);
});

// A field holds one line: pasted lines are sent in turn, the last one's start
// stays in the field.
field.addEventListener("paste", (event) => {
    const text = event.clipboardData && event.clipboardData.getData("text/plain");
    if (!text || !/[\r\n]/.test(text)) {
        return;
    }
    event.preventDefault();
    if (asking()) {
        return;
    }
    const whole = field.value.slice(0, field.selectionStart) + text +
                  field.value.slice(field.selectionEnd);
    const lines = whole.split(/\r\n|\r|\n/);
    field.value = lines.pop();
    send(lines.map((line) => line + "\n"));
    showDecimalHint();
});

// With the on-screen keyboard coming up where the page does not shrink for it,
// the end of the transcript back in view.
if (window.visualViewport) {
    window.visualViewport.addEventListener("resize", showEnd);
}

restart.addEventListener("click", startRun);
// Where there is no WebAssembly, the script before this one has said so instead.
const before = kept();
if (before !== null) {
    newBlock();
    show(before);
    endMessage.textContent = "To rozmowa sprzed odświeżenia strony. Program nie pamięta " +
        "już tych ocen.";
    showEnded();
} else if (document.getElementById("no-webassembly").hidden) {
    startRun();
}
