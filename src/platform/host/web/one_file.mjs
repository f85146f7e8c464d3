// Makes ringscroller.html: the served page with the program's script, its
// WebAssembly and its files (gzip, then base64) written into the page, so
// that one file plays from file://, by mail or from any server.
// usage: node one_file.mjs index.html ringscroller.js ringscroller.wasm ringscroller.data ringscroller.html
import { readFileSync, writeFileSync } from 'node:fs';
import { gzipSync } from 'node:zlib';

const [pagePath, scriptPath, wasmPath, dataPath, outPath] = process.argv.slice(2);
const fail = message => { console.error(`one_file.mjs: ${message}`); process.exit(1); };
if (!outPath) fail('usage: node one_file.mjs PAGE SCRIPT WASM DATA OUT');

const marker = '<!-- ringscroller.html carries the program and its files here -->';
const page = readFileSync(pagePath, 'utf8');
if (page.split(marker).length !== 2) fail(`${pagePath} needs the line "${marker}" once`);
const script = readFileSync(scriptPath, 'utf8');
// Inside a <script> element these would end or bend the element early.
if (/<\/script|<!--/i.test(script)) fail(`${scriptPath} holds "</script" or "<!--" and cannot go into the page as it is`);
const packed = path => gzipSync(readFileSync(path), { level: 9 }).toString('base64');

const program = `<script>\nvar ringscrollerFiles = {wasm: '${packed(wasmPath)}', data: '${packed(dataPath)}'};\n</script>\n` +
                `<script>\n${script}\n</script>`;
writeFileSync(outPath, page.replace(marker, () => program));
