// SPDX-FileCopyrightText: 2026 The gradebook authors
// SPDX-License-Identifier: MIT
// Makes the page: node assemble.mjs PROGRAM.wasm.gz WEB_FOLDER OUTPUT.html
// page.html with the gzip'd module (base64) and the scripts put in its
// place-holders.
// The output depends on nothing but those files' bytes.
import { readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";

const [program, folder, output] = process.argv.slice(2);
const read = (name) => readFileSync(join(folder, name), "utf8");
const parts = {
    "@PROGRAM@": readFileSync(program).toString("base64"),
    "@INFLATE_JS@": read("inflate.js"),
    "@WASI_JS@": read("wasi.js"),
    "@PAGE_JS@": read("page.js"),
};
let page = read("page.html");
for (const [holder, text] of Object.entries(parts)) {
    // A script's text ends at the first "</script", wherever it stands.
    if (text.toLowerCase().includes("</script") || page.split(holder).length !== 2) {
        throw new Error(`${holder}: cannot be put in the page`);
    }
    page = page.replace(holder, () => text);
}
writeFileSync(output, page);
