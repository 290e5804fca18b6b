'use strict';
// The local runtime server.
//
//   node kr-local-runtime.js <document root> <requested port>
//
// Listens on 127.0.0.1 only; when the requested port is taken it takes one the system
// chooses. The first thing written to standard output is one line of JSON,
// {"port": N, "token": "..."}, naming the port it listens on and the secret of this run;
// everything written later is log text. The parent writes "alive" lines to standard input;
// the server exits when standard input closes or when no line came for a few seconds, so no
// server outlives the application that started it.
//
// Only the application may talk to it: every request must name 127.0.0.1 or localhost with
// this port as its Host (421 otherwise, which defeats DNS rebinding), and the control requests
// must be POSTs carrying the run's token in the X-Korvane-Token header, with no foreign Origin
// (403 otherwise).
//
// Endpoints:
//   POST /__kr_terminate          (control) answers, then exits
//   POST /__kr_check_syntax       (control) {"src", "options"} -> {"errors": [...]} (jshint)
//   POST /__kr_uglify             (control) {"src"} -> {"src"} (uglify-js)
//   GET  /__kr_bundle/<path>      the web libraries beside this script (also //__kr_bundle/...)
//   GET  /<path>                  a file of the document root; ".krml" files are server pages
//   POST /<page>.krml             a server page's onPOST
//
// KR_DBDIR names the folder in which server pages may keep data (see `storage` below).

const childProcess = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const path = require('path');

const WATCHDOG_TIMEOUT_MS = 5000;
const MAX_BODY_BYTES = 32 * 1024 * 1024;
// Limits of one server page request's script.
const SCRIPT_TIMEOUT_MS = 5000;
const SCRIPT_HEAP_MB = 128;
const SCRIPT_MEMORY_BYTES = 384 * 1024 * 1024;
const MAX_SCRIPT_OUTPUT_BYTES = 64 * 1024 * 1024;
const MAX_RUNNING_SCRIPTS = 4;
// Requests one sandbox process serves before it is replaced.
const SANDBOX_REQUESTS = 100;

const tokenHeader = 'x-korvane-token';
const runToken = crypto.randomBytes(32).toString('hex');
const controlPaths = new Set(['/__kr_terminate', '/__kr_check_syntax', '/__kr_uglify']);

const bundleRoot = __dirname;
const documentRoot = path.resolve(process.argv[2] || bundleRoot);
const requestedPort = parseInt(process.argv[3], 10);
const databaseFolder = process.env.KR_DBDIR || '';

// What the bundle offers: the staged web libraries and the scripts pages link. Nothing else
// of this folder (the server's own source, package files, node_modules) is served.
const bundleEntries = new Set(['jquery-1.9.0', 'jquery.mobile-1.4.0', 'photoswipe-3.0.5', 'js-class.js', 'bluff-src.js']);

const mimeTypes = {
    '.html': 'text/html; charset=utf-8',
    '.htm': 'text/html; charset=utf-8',
    '.js': 'application/javascript; charset=utf-8',
    '.mjs': 'application/javascript; charset=utf-8',
    '.coffee': 'text/coffeescript; charset=utf-8',
    '.css': 'text/css; charset=utf-8',
    '.json': 'application/json; charset=utf-8',
    '.map': 'application/json; charset=utf-8',
    '.txt': 'text/plain; charset=utf-8',
    '.xml': 'application/xml; charset=utf-8',
    '.appcache': 'text/cache-manifest; charset=utf-8',
    '.manifest': 'text/cache-manifest; charset=utf-8',
    '.png': 'image/png',
    '.gif': 'image/gif',
    '.jpg': 'image/jpeg',
    '.jpeg': 'image/jpeg',
    '.svg': 'image/svg+xml',
    '.ico': 'image/x-icon',
    '.webp': 'image/webp',
    '.woff': 'font/woff',
    '.woff2': 'font/woff2',
    '.ttf': 'font/ttf',
    '.otf': 'font/otf',
    '.eot': 'application/vnd.ms-fontobject',
    '.mp3': 'audio/mpeg',
    '.mp4': 'video/mp4',
    '.wav': 'audio/wav',
    '.pdf': 'application/pdf',
    '.zip': 'application/zip',
};

function log(text) {
    process.stdout.write(text + '\n');
}

// ---------------------------------------------------------------- answers

function send(res, status, contentType, body, extraHeaders) {
    if (res.headersSent) {
        res.end();
        return;
    }
    const headers = Object.assign({
        'Content-Type': contentType,
        'Content-Length': Buffer.byteLength(body),
        'Cache-Control': 'no-cache',
    }, extraHeaders || {});
    res.writeHead(status, headers);
    res.end(body);
}

function sendText(res, status, text) {
    send(res, status, 'text/plain; charset=utf-8', text + '\n');
}

function sendJSON(res, status, value) {
    send(res, status, 'application/json; charset=utf-8', JSON.stringify(value));
}

// ---------------------------------------------------------------- files

class HTTPError extends Error {
    constructor(status, message) {
        super(message);
        this.status = status;
    }
}

// Maps a URL path below a root folder to a file, refusing anything that leaves the folder:
// ".." segments, encoded separators and NUL, and symbolic links that point outside.
function confinedPath(root, urlPath) {
    let decoded;
    try {
        decoded = decodeURIComponent(urlPath);
    } catch (e) {
        throw new HTTPError(400, 'Bad request: malformed path');
    }
    if (decoded.includes('\0') || decoded.includes('\\')) {
        throw new HTTPError(400, 'Bad request: invalid path');
    }
    const segments = decoded.split('/').filter((s) => s !== '' && s !== '.');
    if (segments.some((s) => s === '..')) {
        throw new HTTPError(403, 'Forbidden: path leaves the served folder');
    }
    const candidate = path.join(root, ...segments);
    let realRoot;
    let realFile;
    try {
        realRoot = fs.realpathSync(root);
    } catch (e) {
        throw new HTTPError(404, 'Not found');
    }
    try {
        realFile = fs.realpathSync(candidate);
    } catch (e) {
        throw new HTTPError(404, 'Not found');
    }
    if (!isInside(realRoot, realFile)) {
        throw new HTTPError(403, 'Forbidden: path leaves the served folder');
    }
    return { file: realFile, segments };
}

function isInside(realRoot, realFile) {
    return realFile === realRoot || realFile.startsWith(realRoot.endsWith(path.sep) ? realRoot : realRoot + path.sep);
}

// Serves `file` (already confined to `root`); a folder is served by its index.html, which
// must stay inside `root` as well.
function serveFile(req, res, file, root) {
    fs.stat(file, (statError, stats) => {
        if (statError) {
            sendText(res, 404, 'Not found');
            return;
        }
        if (stats.isDirectory()) {
            let index;
            try {
                index = fs.realpathSync(path.join(file, 'index.html'));
            } catch (e) {
                sendText(res, 404, 'Not found');
                return;
            }
            let realRoot = '';
            try {
                realRoot = fs.realpathSync(root);
            } catch (e) {
                // the root has gone: nothing is inside it
            }
            if (!realRoot || !isInside(realRoot, index)) {
                sendText(res, 403, 'Forbidden: path leaves the served folder');
                return;
            }
            serveFile(req, res, index, root);
            return;
        }
        if (!stats.isFile()) {
            sendText(res, 404, 'Not found');
            return;
        }
        const type = mimeTypes[path.extname(file).toLowerCase()] || 'application/octet-stream';
        res.writeHead(200, {
            'Content-Type': type,
            'Content-Length': stats.size,
            'Cache-Control': 'no-cache',
            'Last-Modified': stats.mtime.toUTCString(),
        });
        if (req.method === 'HEAD') {
            res.end();
            return;
        }
        const stream = fs.createReadStream(file);
        stream.on('error', () => res.destroy());
        stream.pipe(res);
    });
}

// ---------------------------------------------------------------- request bodies

// A body past the limit is refused with 413; the rest of it is read and dropped, so the
// client gets the answer instead of a reset connection, and the connection is then closed.
function readBody(req) {
    return new Promise((resolve, reject) => {
        const tooLarge = () => {
            req.on('data', () => {});
            reject(new HTTPError(413, 'Request body too large'));
        };
        const declared = Number(req.headers['content-length']);
        if (Number.isFinite(declared) && declared > MAX_BODY_BYTES) {
            tooLarge();
            return;
        }
        const chunks = [];
        let size = 0;
        let refused = false;
        req.on('data', (chunk) => {
            if (refused) return;
            size += chunk.length;
            if (size > MAX_BODY_BYTES) {
                refused = true;
                chunks.length = 0;
                tooLarge();
                return;
            }
            chunks.push(chunk);
        });
        req.on('end', () => resolve(Buffer.concat(chunks).toString('utf8')));
        req.on('error', reject);
    });
}

async function readJSONObject(req) {
    const text = await readBody(req);
    let value;
    try {
        value = JSON.parse(text);
    } catch (e) {
        throw new HTTPError(400, 'Bad request: the body is not valid JSON (' + e.message + ')');
    }
    if (value === null || typeof value !== 'object' || Array.isArray(value)) {
        throw new HTTPError(400, 'Bad request: the body is not a JSON object');
    }
    if (typeof value.src !== 'string') {
        throw new HTTPError(400, 'Bad request: "src" must be a string');
    }
    return value;
}

// ---------------------------------------------------------------- syntax check and minifier

let jshintModule = null;
let jshintOptionNames = null;

function jshint() {
    if (!jshintModule) {
        jshintModule = require('jshint').JSHINT;
        jshintOptionNames = new Set(require('jshint/src/options.js').validNames);
    }
    return jshintModule;
}

// Only options jshint knows, with plain values: an unknown key (such as "mixed") would be
// reported as a finding of its own in every script checked.
function jshintOptions(options) {
    const result = {};
    if (options === null || typeof options !== 'object' || Array.isArray(options)) {
        return result;
    }
    jshint();
    for (const key of Object.keys(options)) {
        const value = options[key];
        const plain = typeof value === 'boolean' || typeof value === 'number' || typeof value === 'string';
        if (jshintOptionNames.has(key) && plain) {
            result[key] = value;
        }
    }
    return result;
}

async function checkSyntax(req, res) {
    const body = await readJSONObject(req);
    const lint = jshint();
    lint(body.src, jshintOptions(body.options));
    const errors = (lint.errors || []).filter((e) => e !== null && typeof e === 'object');
    sendJSON(res, 200, { errors });
}

async function uglify(req, res) {
    const body = await readJSONObject(req);
    const result = require('uglify-js').minify(body.src);
    if (result.error) {
        const e = result.error;
        sendJSON(res, 422, {
            error: 'Unable to minify: ' + e.message,
            line: e.line,
            col: e.col,
        });
        return;
    }
    sendJSON(res, 200, { src: result.code });
}

// ---------------------------------------------------------------- server pages

// A small reader for the server page file: elements, attributes, text, CDATA sections,
// comments and the XML declaration. Returns the root element as {name, attributes, children}
// with text children as strings.
function parseXML(text) {
    let pos = 0;
    const root = { name: '#document', attributes: {}, children: [] };
    const stack = [root];
    const decode = (s) => s.replace(/&(lt|gt|amp|quot|apos|#x[0-9a-fA-F]+|#[0-9]+);/g, (m, name) => {
        switch (name) {
        case 'lt': return '<';
        case 'gt': return '>';
        case 'amp': return '&';
        case 'quot': return '"';
        case 'apos': return '\'';
        default:
            return String.fromCodePoint(name[1] === 'x' ? parseInt(name.slice(2), 16) : parseInt(name.slice(1), 10));
        }
    });
    const fail = (what) => {
        throw new Error('Malformed server page: ' + what + ' at offset ' + pos);
    };
    while (pos < text.length) {
        const top = stack[stack.length - 1];
        if (text.startsWith('<![CDATA[', pos)) {
            const end = text.indexOf(']]>', pos + 9);
            if (end < 0) fail('unterminated CDATA section');
            top.children.push(text.slice(pos + 9, end));
            pos = end + 3;
        } else if (text.startsWith('<!--', pos)) {
            const end = text.indexOf('-->', pos + 4);
            if (end < 0) fail('unterminated comment');
            pos = end + 3;
        } else if (text.startsWith('<?', pos) || text.startsWith('<!', pos)) {
            const end = text.indexOf('>', pos);
            if (end < 0) fail('unterminated declaration');
            pos = end + 1;
        } else if (text.startsWith('</', pos)) {
            const end = text.indexOf('>', pos);
            if (end < 0) fail('unterminated end tag');
            const name = text.slice(pos + 2, end).trim();
            if (stack.length < 2 || top.name !== name) fail('unexpected end tag </' + name + '>');
            stack.pop();
            pos = end + 1;
        } else if (text[pos] === '<') {
            const match = /^<([A-Za-z_][\w.:-]*)((?:\s+[A-Za-z_][\w.:-]*\s*=\s*(?:"[^"]*"|'[^']*'))*)\s*(\/?)>/.exec(text.slice(pos, pos + 4096));
            if (!match) fail('bad start tag');
            const element = { name: match[1], attributes: {}, children: [] };
            const attributePattern = /([A-Za-z_][\w.:-]*)\s*=\s*(?:"([^"]*)"|'([^']*)')/g;
            let a;
            while ((a = attributePattern.exec(match[2])) !== null) {
                element.attributes[a[1]] = decode(a[2] !== undefined ? a[2] : a[3]);
            }
            top.children.push(element);
            if (!match[3]) stack.push(element);
            pos += match[0].length;
        } else {
            let end = text.indexOf('<', pos);
            if (end < 0) end = text.length;
            top.children.push(decode(text.slice(pos, end)));
            pos = end;
        }
    }
    if (stack.length !== 1) fail('unclosed element <' + stack[stack.length - 1].name + '>');
    const elements = root.children.filter((c) => typeof c !== 'string');
    if (elements.length !== 1) fail('no single root element');
    return elements[0];
}

function childElement(element, name) {
    return element.children.find((c) => typeof c !== 'string' && c.name === name) || null;
}

function textContent(element) {
    return element ? element.children.filter((c) => typeof c === 'string').join('') : '';
}

function readServerPage(file) {
    const root = parseXML(fs.readFileSync(file, 'utf8'));
    if (root.name !== 'krml') {
        throw new Error('Malformed server page: the root element is not "krml"');
    }
    let pageMap = {};
    const mapText = textContent(childElement(root, 'pageMap')).trim();
    if (mapText) {
        pageMap = JSON.parse(mapText);
    }
    const events = {};
    const eventsElement = childElement(root, 'events');
    if (eventsElement) {
        for (const e of eventsElement.children) {
            if (typeof e !== 'string' && e.name === 'event' && e.attributes.id) {
                events[e.attributes.id] = textContent(e);
            }
        }
    }
    return { pageMap, html: textContent(childElement(root, 'html')), events };
}

// Data that server pages keep between requests: one JSON file in the database folder,
// written (atomically) only when a page stores something. Scripts never touch the file: they
// get a copy of the items and hand back their changes, which are applied here.
const storageFile = databaseFolder ? path.join(databaseFolder, 'kr-storage.json') : '';

function loadStorage() {
    const items = Object.create(null);
    if (!storageFile) return items;
    try {
        const value = JSON.parse(fs.readFileSync(storageFile, 'utf8'));
        if (value && typeof value === 'object' && !Array.isArray(value)) {
            Object.assign(items, value);
        }
    } catch (e) {
        // no data yet, or unreadable: an empty store
    }
    return items;
}

// The items as the script sees them: each value as JSON text.
function storageForScript() {
    const items = loadStorage();
    const texts = {};
    for (const key of Object.keys(items)) {
        texts[key] = JSON.stringify(items[key] === undefined ? null : items[key]);
    }
    return { available: storageFile !== '', items: texts };
}

function applyStorageChanges(changes, pageName) {
    if (!storageFile || !Array.isArray(changes) || changes.length === 0) return;
    const items = loadStorage();
    let changed = false;
    for (const change of changes) {
        if (!Array.isArray(change) || typeof change[1] !== 'string') continue;
        if (change[0] === 'remove') {
            changed = delete items[change[1]] || changed;
        } else if (change[0] === 'set' && typeof change[2] === 'string') {
            try {
                items[change[1]] = JSON.parse(change[2]);
                changed = true;
            } catch (e) {
                // not JSON: the change is dropped
            }
        }
    }
    if (!changed) return;
    try {
        const temp = storageFile + '.' + process.pid + '.tmp';
        fs.writeFileSync(temp, JSON.stringify(items));
        fs.renameSync(temp, storageFile);
    } catch (e) {
        log('Server page ' + pageName + ': unable to store data: ' + e.message);
    }
}

function parseForm(contentType, body) {
    if (!body) return {};
    if (/^application\/json/i.test(contentType || '')) {
        try {
            const value = JSON.parse(body);
            return value && typeof value === 'object' ? value : {};
        } catch (e) {
            return {};
        }
    }
    const form = {};
    for (const [key, value] of new URLSearchParams(body)) {
        form[key] = value;
    }
    return form;
}

function requestForScript(req, pathname, searchParams, body) {
    const query = {};
    for (const [key, value] of searchParams) {
        query[key] = value;
    }
    const headers = Object.assign({}, req.headers);
    delete headers[tokenHeader];
    return {
        method: req.method,
        url: req.url,
        path: pathname,
        headers,
        query,
        body,
        form: Object.assign({}, query, parseForm(req.headers['content-type'], body)),
    };
}

// ---------------------------------------------------------------- the script sandbox
//
// Server page scripts run in node processes of their own (kr-server-page-sandbox.js), with
// node's permission model on and nothing granted: no file system, no child processes, no
// workers, an empty environment and a small heap. A process is killed when its request
// outlives the time limit or it grows past the memory limit, whatever it is doing; this
// process never runs a line of a page's script, so it stays responsive. A small pool of such
// processes serves the requests, one at a time each, every request in a fresh context; a
// process is replaced after a number of requests.

const sandboxSource = fs.readFileSync(path.join(__dirname, 'kr-server-page-sandbox.js'), 'utf8');
const sandboxArguments = [
    '--experimental-permission',
    '--no-warnings',
    '--disallow-code-generation-from-strings',
    '--max-old-space-size=' + SCRIPT_HEAP_MB,
    '-e', sandboxSource,
];
const idleSandboxes = [];
const liveSandboxes = new Set();
const waitingScripts = [];
let runningScripts = 0;

function startSandbox() {
    const sandbox = { output: '', errorText: '', exited: false, served: 0, job: null };
    const child = childProcess.spawn(process.execPath, sandboxArguments, {
        cwd: bundleRoot,
        env: {},
        stdio: ['pipe', 'pipe', 'pipe'],
    });
    sandbox.child = child;
    liveSandboxes.add(sandbox);
    child.stdout.setEncoding('utf8');
    child.stdout.on('data', (chunk) => {
        sandbox.output += chunk;
        const end = sandbox.output.indexOf('\n');
        if (end >= 0) {
            const line = sandbox.output.slice(0, end);
            sandbox.output = sandbox.output.slice(end + 1);
            // Anything past the one answer is output nobody asked for: the process is not used again.
            finishJob(sandbox, line, sandbox.output.length === 0);
        } else if (sandbox.output.length > MAX_SCRIPT_OUTPUT_BYTES) {
            sandbox.tooLarge = true;
            child.kill('SIGKILL');
        }
    });
    child.stderr.on('data', (chunk) => {
        if (sandbox.errorText.length < 65536) sandbox.errorText += chunk.toString('utf8');
    });
    child.stdin.on('error', () => {});
    child.on('error', (error) => {
        sandbox.errorText += String(error && error.message);
    });
    child.on('close', (code, signal) => {
        sandbox.exited = true;
        sandbox.exitCode = code;
        sandbox.signal = signal;
        liveSandboxes.delete(sandbox);
        const index = idleSandboxes.indexOf(sandbox);
        if (index >= 0) idleSandboxes.splice(index, 1);
        if (sandbox.job) finishJob(sandbox, null, false);
    });
    return sandbox;
}

function residentBytes(pid) {
    try {
        const fields = fs.readFileSync('/proc/' + pid + '/statm', 'utf8').split(' ');
        return parseInt(fields[1], 10) * 4096;
    } catch (e) {
        return 0;
    }
}

function killSandbox(sandbox) {
    if (!sandbox.exited) sandbox.child.kill('SIGKILL');
}

function runInSandbox(sandbox, job, done) {
    const current = { done, timedOut: false, overMemory: false };
    sandbox.job = current;
    current.timer = setTimeout(() => {
        current.timedOut = true;
        killSandbox(sandbox);
    }, SCRIPT_TIMEOUT_MS);
    current.memoryWatch = setInterval(() => {
        if (residentBytes(sandbox.child.pid) > SCRIPT_MEMORY_BYTES) {
            current.overMemory = true;
            killSandbox(sandbox);
        }
    }, 100);
    ++sandbox.served;
    sandbox.child.stdin.write(JSON.stringify(job) + '\n');
}

// The sandbox answered (`line`) or ended without an answer (null).
function finishJob(sandbox, line, reusable) {
    const current = sandbox.job;
    if (!current || !reusable) {
        killSandbox(sandbox);
    }
    if (!current) {
        return; // output nobody asked for
    }
    sandbox.job = null;
    clearTimeout(current.timer);
    clearInterval(current.memoryWatch);
    let outcome = null;
    try {
        outcome = line === null ? null : JSON.parse(line);
    } catch (e) {
        outcome = null;
    }
    if (outcome === null || typeof outcome !== 'object' || Array.isArray(outcome)) {
        killSandbox(sandbox);
        const heapExhausted = /heap out of memory|Reached heap limit/.test(sandbox.errorText);
        let message;
        if (current.timedOut) {
            message = 'the script did not finish within ' + SCRIPT_TIMEOUT_MS / 1000 + ' s';
        } else if (current.overMemory || heapExhausted) {
            message = 'the script ran out of memory';
        } else if (sandbox.tooLarge) {
            message = 'the script\'s answer is too large';
        } else if (line !== null) {
            message = 'the script\'s answer could not be read';
        } else {
            message = 'the script ended without an answer (' +
                (sandbox.signal ? 'signal ' + sandbox.signal : 'exit code ' + sandbox.exitCode) + ')';
        }
        outcome = { ok: false, message, stack: message + '\n' + sandbox.errorText.slice(0, 2000) };
    } else if ((outcome.retire === true || sandbox.served >= SANDBOX_REQUESTS) && !sandbox.exited) {
        sandbox.child.stdin.end(); // it exits when its input ends
    } else if (!sandbox.exited && reusable) {
        idleSandboxes.push(sandbox);
    }
    current.done(outcome);
}

function takeSandbox() {
    while (idleSandboxes.length > 0) {
        const sandbox = idleSandboxes.shift();
        if (!sandbox.exited) return sandbox;
    }
    return startSandbox();
}

// Runs a server page's script; resolves with the sandbox's outcome object.
function runServerScript(job) {
    return new Promise((resolve) => {
        waitingScripts.push({ job, resolve });
        startWaitingScripts();
    });
}

function startWaitingScripts() {
    while (waitingScripts.length > 0 && runningScripts < MAX_RUNNING_SCRIPTS) {
        const { job, resolve } = waitingScripts.shift();
        ++runningScripts;
        runInSandbox(takeSandbox(), job, (outcome) => {
            --runningScripts;
            resolve(outcome);
            startWaitingScripts();
        });
    }
    // One ready for the next request.
    if (idleSandboxes.length === 0 && liveSandboxes.size < MAX_RUNNING_SCRIPTS + 1) {
        idleSandboxes.push(startSandbox());
    }
}

function endAllSandboxes() {
    for (const sandbox of liveSandboxes) {
        try {
            sandbox.child.kill('SIGKILL');
        } catch (e) {
            // already gone
        }
    }
}

// Headers a script may not set: they describe the answer's framing, which is ours.
const framingHeaders = new Set(['content-length', 'transfer-encoding', 'connection']);

async function serveServerPage(req, res, file, pathname, query) {
    const body = req.method === 'POST' ? await readBody(req) : '';
    const pageName = path.basename(file);
    let page;
    try {
        page = readServerPage(file);
    } catch (e) {
        log('Server page ' + pageName + ': ' + e.message);
        sendText(res, 500, 'Unable to read the server page: ' + e.message);
        return;
    }
    const eventName = req.method === 'POST' ? 'onPOST' : 'onGET';
    const outcome = await runServerScript({
        page: { name: pageName, html: page.html, events: page.events },
        eventName,
        request: requestForScript(req, pathname, query, body),
        storage: storageForScript(),
        // The sandbox's own limit comes first, so a script's error usually reads better than "killed".
        timeoutMs: Math.max(SCRIPT_TIMEOUT_MS - 500, 100),
        limitMs: SCRIPT_TIMEOUT_MS,
    });
    if (Array.isArray(outcome.log)) {
        for (const line of outcome.log.slice(0, 1000)) log(String(line));
    }
    applyStorageChanges(outcome.storageChanges, pageName);
    if (outcome.ok !== true) {
        log('Server page ' + pageName + ' (' + eventName + '): ' + String(outcome.stack || outcome.message));
        sendText(res, 500, 'Server script error: ' + String(outcome.message));
        return;
    }
    const headers = {};
    if (outcome.headers && typeof outcome.headers === 'object') {
        for (const name of Object.keys(outcome.headers)) {
            const value = String(outcome.headers[name]);
            try {
                http.validateHeaderName(name);
                http.validateHeaderValue(name, value);
            } catch (e) {
                log('Server page ' + pageName + ': header ' + JSON.stringify(name) + ' left out: ' + e.message);
                continue;
            }
            if (!framingHeaders.has(name.toLowerCase())) headers[name] = value;
        }
    }
    try {
        if (typeof outcome.redirectURL === 'string' && outcome.redirectURL) {
            send(res, 302, 'text/plain; charset=utf-8', '', Object.assign(headers, { Location: outcome.redirectURL }));
            return;
        }
        const status = Number.isInteger(outcome.statusCode) ? outcome.statusCode : 200;
        if (status < 200 || status > 599) {
            throw new Error('invalid status code ' + status);
        }
        send(res, status, 'text/html; charset=utf-8', String(outcome.html || ''), headers);
    } catch (e) {
        log('Server page ' + pageName + ' (' + eventName + '): ' + e.message);
        sendText(res, 500, 'Server script error: ' + e.message);
    }
}

// ---------------------------------------------------------------- routing

async function route(req, res) {
    // The raw path, not a parsed URL: "//__kr_bundle/..." (design documents join the server
    // address and an absolute path) is no host name, and ".." must reach the confinement check.
    const queryStart = req.url.search(/[?#]/);
    const rawPath = queryStart < 0 ? req.url : req.url.slice(0, queryStart);
    const pathname = ('/' + rawPath).replace(/^\/+/, '/');
    const query = new URLSearchParams(queryStart < 0 || req.url[queryStart] === '#' ? '' : req.url.slice(queryStart + 1).split('#')[0]);

    if (!allowedHost(req.headers.host)) {
        throw new HTTPError(421, 'Misdirected request: this server answers only for 127.0.0.1:' + listeningPort);
    }
    if (controlPaths.has(pathname)) {
        if (req.method !== 'POST') {
            send(res, 405, 'text/plain; charset=utf-8', 'Method not allowed\n', { Allow: 'POST' });
            return;
        }
        const origin = req.headers.origin;
        if (origin !== undefined && !allowedOrigin(origin)) {
            throw new HTTPError(403, 'Forbidden: cross-site request');
        }
        if (!tokenMatches(req.headers[tokenHeader])) {
            throw new HTTPError(403, 'Forbidden: this request needs the token of the running server');
        }
        if (pathname === '/__kr_terminate') {
            sendText(res, 200, 'terminating');
            res.on('finish', () => process.exit(0));
            return;
        }
        await (pathname === '/__kr_check_syntax' ? checkSyntax(req, res) : uglify(req, res));
        return;
    }
    if (pathname.startsWith('/__kr_bundle/')) {
        if (req.method !== 'GET' && req.method !== 'HEAD') {
            send(res, 405, 'text/plain; charset=utf-8', 'Method not allowed\n', { Allow: 'GET, HEAD' });
            return;
        }
        const { file, segments } = confinedPath(bundleRoot, pathname.slice('/__kr_bundle/'.length));
        if (segments.length === 0 || !bundleEntries.has(segments[0])) {
            throw new HTTPError(404, 'Not found');
        }
        serveFile(req, res, file, path.join(bundleRoot, segments[0]));
        return;
    }
    const { file } = confinedPath(documentRoot, pathname);
    if (path.extname(file).toLowerCase() === '.krml') {
        if (req.method !== 'GET' && req.method !== 'POST') {
            send(res, 405, 'text/plain; charset=utf-8', 'Method not allowed\n', { Allow: 'GET, POST' });
            return;
        }
        await serveServerPage(req, res, file, pathname, query);
        return;
    }
    if (req.method !== 'GET' && req.method !== 'HEAD') {
        send(res, 405, 'text/plain; charset=utf-8', 'Method not allowed\n', { Allow: 'GET, HEAD' });
        return;
    }
    serveFile(req, res, file, documentRoot);
}

// ---------------------------------------------------------------- who may ask

let listeningPort = -1;

// "127.0.0.1" or "localhost", with this server's port when a port is named.
function allowedHost(host) {
    if (typeof host !== 'string') return false;
    const match = /^(127\.0\.0\.1|localhost)(?::(\d+))?$/i.exec(host.trim());
    return match !== null && (match[2] === undefined || Number(match[2]) === listeningPort);
}

function allowedOrigin(origin) {
    const match = /^http:\/\/(127\.0\.0\.1|localhost)(?::(\d+))?$/i.exec(origin);
    return match !== null && Number(match[2]) === listeningPort;
}

function tokenMatches(value) {
    if (typeof value !== 'string') return false;
    const given = Buffer.from(value, 'utf8');
    const expected = Buffer.from(runToken, 'utf8');
    return given.length === expected.length && crypto.timingSafeEqual(given, expected);
}

function handle(req, res) {
    route(req, res).catch((e) => {
        if (e instanceof HTTPError && e.status === 413) {
            // The connection goes once the answer is out; a client that keeps sending is cut off.
            send(res, 413, 'text/plain; charset=utf-8', e.message + '\n', { Connection: 'close' });
            res.on('finish', () => setTimeout(() => req.socket.destroy(), 10000).unref());
        } else if (e instanceof HTTPError) {
            sendText(res, e.status, e.message);
        } else {
            log('Error answering ' + req.method + ' ' + req.url + ': ' + (e && e.stack ? e.stack : e));
            sendText(res, 500, 'Internal server error');
        }
    });
}

// ---------------------------------------------------------------- start-up and watchdog

function startWatchdog() {
    let lastAlive = Date.now();
    process.stdin.on('data', () => {
        lastAlive = Date.now();
    });
    // Script processes end with the server, whichever way it is asked to go.
    process.on('exit', endAllSandboxes);
    for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) {
        process.on(signal, () => process.exit(0));
    }
    process.stdin.on('end', () => process.exit(0));
    process.stdin.on('error', () => process.exit(0));
    process.stdin.resume();
    setInterval(() => {
        if (Date.now() - lastAlive > WATCHDOG_TIMEOUT_MS) {
            process.exit(0);
        }
    }, 500).unref();
}

function listen(port, fallback) {
    const server = http.createServer(handle);
    server.keepAliveTimeout = 5000;
    server.once('error', (error) => {
        if (fallback && (error.code === 'EADDRINUSE' || error.code === 'EACCES')) {
            listen(0, false);
            return;
        }
        process.stderr.write('kr-local-runtime: unable to listen: ' + error.message + '\n');
        process.exit(1);
    });
    server.listen(port, '127.0.0.1', () => {
        listeningPort = server.address().port;
        // The hand-shake: the first output of the process.
        process.stdout.write(JSON.stringify({ port: listeningPort, token: runToken }) + '\n');
        log('Serving ' + documentRoot + ' on http://127.0.0.1:' + server.address().port + '/');
    });
}

startWatchdog();
const validPort = Number.isInteger(requestedPort) && requestedPort >= 0 && requestedPort <= 65535;
listen(validPort ? requestedPort : 0, validPort && requestedPort !== 0);
