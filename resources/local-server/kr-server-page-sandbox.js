'use strict';
// Runs server page requests for the local runtime server, in a process the server starts:
//
//   node --experimental-permission ... -e <this file's text>
//
// Node's permission model denies the file system, child processes, workers and addons; the
// environment is empty. Standard input brings one request at a time as a line of JSON
//   {"page": {"name", "html", "events": {"onGET": ..., "onPOST": ...}}, "eventName",
//    "request": {method, url, path, headers, query}, "contentType", "storage": {"available",
//    "error", "version", "baseVersion", "size"}, "bodyBytes", "baseBytes", "changesBytes",
//    "limits": {...}}
// followed by the request's body (bodyBytes bytes) and, when this process does not hold them
// yet, the project's stored items: a base block made at baseVersion (baseBytes bytes: a line of
// JSON, the index {key: [offset, length]}, then the items' JSON texts one after the other) and
// the changes since that base (changesBytes bytes: {key: JSON text, or null when removed}).
// A frame whose job is {"storedItemsOnly": true, "storage", "bodyBytes": 0, "baseBytes",
// "changesBytes"} brings the stored items alone, before the first request, and is not answered.
// For each request standard output gets one answer: a line {"htmlBytes": N, "outcome": {...}}
// and then the N bytes of the page's text, where the outcome is
//   {"ok": true, "statusCode", "headers", "redirectURL", "log": [...], "storageChanges": {...}}
//   {"ok": false, "message", "stack", "log": [...], "storageChanges": {...}}
// The server applies the storage changes ({key: JSON text, or null when removed}) itself.
// The process exits when standard input closes, and after a request it could not run as it
// should (its outcome then says "retire": true).
//
// Each request's script runs in a new context that is handed no object of this process:
// request, response, storage and console are made inside the context from plain data, so
// nothing the script can reach leads back here. This process is the second wall, the server's
// time and memory limits the third: the server kills it when a request outlives the time
// limit. (A limit of its own here would start and join a thread for every request, which
// costs about as much as the rest of a small page.)

const vm = require('vm');

const input = process.stdin;
const output = process.stdout;
const exit = process.exit.bind(process);
// A promise a script rejected and left alone is the script's own business; by default node
// would end this process, and with it the next request.
process.on('unhandledRejection', () => {});

// Nor signals to other processes, nor the bindings under node's modules.
for (const name of ['kill', '_kill', 'binding', '_linkedBinding', 'dlopen']) {
    try {
        Object.defineProperty(process, name, {
            value: () => {
                throw new Error('not available to server pages');
            },
            configurable: false,
            writable: false,
        });
    } catch (e) {
        // not configurable: left as it is
    }
}

// What an escaped script could still use in this process.
for (const name of ['process', 'require', 'module', 'exports', '__filename', '__dirname', 'fetch',
    'WebSocket', 'EventSource', 'Request', 'Response', 'Headers', 'FormData', 'BroadcastChannel',
    'MessageChannel', 'MessagePort', 'Worker', 'SharedArrayBuffer', 'WebAssembly']) {
    try {
        delete globalThis[name];
    } catch (e) {
        // not configurable: left as it is
    }
}

// Run once in each new context, before anything else runs there. It takes what the context's
// own code needs later, so a script that replaces JSON, Object or String changes nothing of it;
// removes finalization registries, whose callbacks would run once the request is over, between
// requests and outside any time limit; makes response, storage and console; defines __kr_run,
// which runs the page once; and returns the request's start. That takes the request as JSON
// text, the body and the project's stored items (primitive strings, so nothing of this process
// goes in: the base block's index and texts and the changes since, so that reading an item
// parses that item only, however large the store), makes request from them inside the context
// and returns the accessor of the answer's text.
const setup = new vm.Script(`(function () {
'use strict';
const parse = JSON.parse;
const stringify = JSON.stringify;
const create = Object.create;
const assign = Object.assign;
const keysOf = Object.keys;
const defineProperty = Object.defineProperty;
const sliceOf = Function.prototype.call.bind(String.prototype.slice);
const StringOf = String;
const ErrorOf = Error;
const indirectEval = eval;
delete globalThis.FinalizationRegistry;
// The request's, once it has started.
let limits = null;
let storageState = null;
let page = null;
let eventName = '';
let storeIndex = '';
let storeTexts = '';
let storeChanges = '';
let storeSize = 0;
const log = [];
let logChars = 0;
let logDropped = 0;
const storageChanges = create(null); // key -> JSON text, or null when removed
let index = null;
let changesSinceBase = null;
let answer = '';
const count = (n) => StringOf(n).replace(/\\B(?=(\\d{3})+(?!\\d))/g, ',');
// The JSON text of an item, or null.
const stored = (key) => {
    if (key in storageChanges) return storageChanges[key];
    if (changesSinceBase === null) changesSinceBase = assign(create(null), storeChanges ? parse(storeChanges) : null);
    if (key in changesSinceBase) return changesSinceBase[key];
    if (index === null) index = assign(create(null), storeIndex ? parse(storeIndex) : null);
    const at = index[key];
    return at === undefined ? null : sliceOf(storeTexts, at[0], at[0] + at[1]);
};
const usable = (writing) => {
    if (storageState.error) throw new ErrorOf('storage is unavailable: ' + storageState.error);
    if (writing && !storageState.available) throw new ErrorOf('No database folder is available');
};
const setOwn = (map, name, value) => {
    defineProperty(map, name, { value, writable: true, enumerable: true, configurable: true });
};
const text = (value) => (typeof value === 'string' ? value : stringify(value));
const scriptSafeJSON = (value) => stringify(value === undefined ? null : value)
    .replace(/</g, '\\\\u003c').replace(/>/g, '\\\\u003e')
    .replace(/\\u2028/g, '\\\\u2028').replace(/\\u2029/g, '\\\\u2029');
const logLines = (...args) => {
    if (log.length >= limits.logLines || logChars >= limits.logChars) {
        ++logDropped;
        return;
    }
    let line = args.map(text).join(' ');
    if (line.length > limits.logChars - logChars) line = line.slice(0, limits.logChars - logChars) + ' [cut]';
    logChars += line.length;
    log[log.length] = line;
};
globalThis.response = {
    statusCode: 200,
    headers: {},
    form: {},
    redirectURL: null,
    // Defined, not assigned: "__proto__" is a name like any other here.
    setHeader(name, value) { setOwn(this.headers, StringOf(name), StringOf(value)); },
    setFormValue(name, value) { setOwn(this.form, StringOf(name), value); },
    redirect(location) { this.redirectURL = String(location); },
    // The form as a script expression: its JSON text, or where a member is named __proto__
    // (which an object literal takes for its prototype) that text parsed on the page.
    _formJSON() {
        const json = scriptSafeJSON(this.form);
        return json.includes('"__proto__":') ? 'JSON.parse(' + scriptSafeJSON(json) + ')' : json;
    },
};
globalThis.storage = {
    getItem(key) {
        usable(false);
        key = StringOf(key);
        const json = stored(key);
        return json === null ? null : parse(json);
    },
    setItem(key, value) {
        usable(true);
        key = StringOf(key);
        let json = stringify(value === undefined ? null : value);
        if (json === undefined) json = 'null';
        const old = stored(key);
        const size = key.length + json.length;
        if (size > limits.itemChars) {
            throw new ErrorOf('storage.setItem: the item ' + stringify(key.length > 40 ? key.slice(0, 40) + '...' : key) +
                ' would hold ' + count(size) + ' characters; an item may hold at most ' + count(limits.itemChars) +
                ' characters (its key and its value as JSON)');
        }
        const next = storeSize - (old === null ? 0 : key.length + old.length) + size;
        if (next > limits.storeChars && next > storeSize) {
            throw new ErrorOf('storage.setItem: the store would hold ' + count(next) +
                ' characters; the server pages of a project may keep at most ' + count(limits.storeChars) + ' characters');
        }
        storageChanges[key] = json;
        storeSize = next;
    },
    removeItem(key) {
        usable(true);
        key = StringOf(key);
        const old = stored(key);
        if (old !== null) storeSize -= key.length + old.length;
        storageChanges[key] = null;
    },
};
globalThis.console = { log: logLines, info: logLines, warn: logLines, error: logLines };
const describe = (value) => {
    try {
        if (value !== null && typeof value === 'object' && 'message' in value) {
            return { message: StringOf(value.message), stack: StringOf(value.stack || value.message) };
        }
        return { message: StringOf(value), stack: StringOf(value) };
    } catch (e) {
        return { message: 'the script threw an unreadable value', stack: '' };
    }
};
const outcomeOf = (thrown, threw, html) => {
    const result = create(null);
    result.log = log;
    result.logDropped = logDropped;
    result.storageChanges = storageChanges;
    if (threw) {
        const described = describe(thrown);
        result.ok = false;
        result.message = described.message;
        result.stack = described.stack;
        return stringify(result);
    }
    const r = globalThis.response;
    const headers = create(null);
    if (r && r.headers && typeof r.headers === 'object') {
        for (const name of keysOf(r.headers)) headers[name] = StringOf(r.headers[name]);
    }
    result.ok = true;
    result.statusCode = r ? r.statusCode : 200;
    result.headers = headers;
    result.redirectURL = r && r.redirectURL ? StringOf(r.redirectURL) : null;
    answer = typeof html === 'string' ? html : '';
    return stringify(result);
};
// The handler and the template expressions run here, in the context, so that even their
// errors are read inside it. It can run once: it leaves the global object as it starts.
defineProperty(globalThis, '__kr_run', {
    configurable: true,
    value: () => {
        delete globalThis.__kr_run;
        const run = (code) => indirectEval(code);
        try {
            const source = page.events[eventName];
            if (typeof source === 'string') {
                const handler = run('(function(request, response) {\\n' + source + '\\n})');
                handler(request, response);
            }
            if (response && response.redirectURL) return outcomeOf(null, false, '');
            const html = page.html.replace(/<%=([\\s\\S]*?)%>/g, (match, expression) => {
                const value = run(expression);
                return value === undefined || value === null ? '' : String(value);
            });
            return outcomeOf(null, false, html);
        } catch (e) {
            return outcomeOf(e, true, '');
        }
    },
});
return (inputText, bodyText, storeIndexText, storeTextsText, storeChangesText) => {
    const input = parse(inputText);
    limits = input.limits;
    storageState = input.storage;
    page = input.page;
    eventName = input.eventName;
    storeIndex = storeIndexText;
    storeTexts = storeTextsText;
    storeChanges = storeChangesText;
    storeSize = storageState.size;
    input.request.body = bodyText;
    globalThis.request = input.request;
    return () => answer;
};
})`);

// One answer: a line of JSON, {"htmlBytes": N, "outcome": {...}}, then the N bytes of the
// page's text (UTF-8), in one write, so that the server reads it at once.
function writeAnswer(outcomeText, html, done) {
    const htmlBytes = html ? Buffer.byteLength(html, 'utf8') : 0;
    output.write('{"htmlBytes":' + htmlBytes + ',"outcome":' + outcomeText + '}\n' + (html || ''), 'utf8');
    if (done) output.write('', done);
}

function failure(message) {
    return JSON.stringify({ ok: false, message, stack: message, log: [], storageChanges: {}, retire: true });
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
        setOwn(form, key, value);
    }
    return form;
}

// Every name a request brings becomes a property of its own, __proto__ included (assigned, it
// would change the object's prototype and be lost), the last value of a repeated name kept.
function setOwn(map, name, value) {
    Object.defineProperty(map, name, { value, writable: true, enumerable: true, configurable: true });
}

function mergedForm(query, form) {
    const merged = {};
    for (const part of [query, form]) {
        if (part === null || part === undefined) continue;
        for (const key of Object.keys(part)) setOwn(merged, key, part[key]);
    }
    return merged;
}

// The project's stored items as the server last sent them; it sends again only what changed.
const store = { baseVersion: -1, index: '', texts: '', version: -1, changes: '' };

// A new context, set up and waiting for its one request. Making it is most of what a request
// would otherwise cost, so the next one is made while this process waits for work.
function freshContext() {
    const context = vm.createContext(Object.create(null), {
        name: 'server page',
        codeGeneration: { strings: true, wasm: false },
        microtaskMode: 'afterEvaluate',
    });
    return { context, start: setup.runInContext(context, { displayErrors: false })() };
}

let spare = null;

function prepareSpare() {
    if (spare === null) spare = freshContext();
}

// Takes the stored items the frame brings (after its body); false when this process does not
// hold the ones the frame names.
function takeStoredItems(job, payload) {
    const baseEnd = job.bodyBytes + job.baseBytes;
    if (job.baseBytes > 0) {
        const text = payload.toString('utf8', job.bodyBytes, baseEnd);
        const end = text.indexOf('\n');
        Object.assign(store, { baseVersion: job.storage.baseVersion, index: text.slice(0, end), texts: text.slice(end + 1) });
    }
    if (job.changesBytes > 0) {
        Object.assign(store, { version: job.storage.version, changes: payload.toString('utf8', baseEnd) });
    }
    return store.baseVersion === job.storage.baseVersion && store.version === job.storage.version;
}

// Runs one request; returns the outcome as JSON text, the answer's text and whether this
// process must go after it. The request gets a context of its own, which no code ran in
// before and none runs in after: its globals, the built-ins' prototypes and whatever it left
// waiting (promises, callbacks of Atomics.waitAsync) go with it.
function runRequest(job, payload) {
    if (!takeStoredItems(job, payload)) {
        return { outcome: failure('the stored items did not reach the script'), html: '', retire: true };
    }
    const body = payload.toString('utf8', 0, job.bodyBytes);
    const request = job.request;
    request.form = mergedForm(request.query, parseForm(job.contentType, body));
    try {
        const { context, start } = spare === null ? freshContext() : spare;
        spare = null;
        // The page goes in as text and is parsed there, so the context holds only its own objects.
        const inputText = JSON.stringify({
            request,
            storage: job.storage,
            limits: job.limits,
            page: { html: String(job.page.html), events: job.page.events },
            eventName: String(job.eventName),
        });
        const answerOf = start(inputText, body, store.index, store.texts, store.changes);
        let outcome = vm.runInContext('__kr_run()', context,
            { filename: job.page.name + ':' + job.eventName, displayErrors: false });
        let html = answerOf();
        if (typeof outcome !== 'string' || typeof html !== 'string' || outcome.includes('\n')) {
            return { outcome: failure('the script replaced its own outcome'), html: '', retire: true };
        }
        const htmlBytes = Buffer.byteLength(html, 'utf8');
        if (htmlBytes > job.limits.answerBytes) {
            const message = 'the script\'s answer is too large (' + htmlBytes + ' bytes; at most ' +
                job.limits.answerBytes + ')';
            const meta = JSON.parse(outcome);
            outcome = JSON.stringify(Object.assign(meta, { ok: false, message, stack: message }));
            html = '';
        }
        return { outcome, html, retire: false };
    } catch (e) {
        // Thrown here rather than by the script (which __kr_run catches).
        return {
            outcome: failure('the script failed (' + (e && e.message ? e.message : 'unknown') + ')'),
            html: '',
            retire: true,
        };
    }
}

// Standard input is read as frames: a line of JSON, the job, then its payload of
// job.bodyBytes + job.baseBytes + job.changesBytes bytes. Chunks are kept as they come and
// joined once.
const MAX_JOB_LINE_BYTES = 16 * 1024 * 1024;
let lineChunks = [];
let lineBytes = 0;
let job = null;
let payloadChunks = [];
let payloadBytes = 0;

function stop(outcomeText) {
    input.pause();
    writeAnswer(outcomeText, '', () => exit(0));
}

function take(chunk) {
    while (chunk.length > 0) {
        if (job === null) {
            const end = chunk.indexOf(10);
            if (end < 0) {
                lineChunks.push(chunk);
                lineBytes += chunk.length;
                if (lineBytes > MAX_JOB_LINE_BYTES) {
                    stop(failure('the request could not be read'));
                    return false;
                }
                return true;
            }
            lineChunks.push(chunk.subarray(0, end));
            const line = Buffer.concat(lineChunks).toString('utf8');
            lineChunks = [];
            lineBytes = 0;
            chunk = chunk.subarray(end + 1);
            try {
                job = JSON.parse(line);
            } catch (e) {
                job = null;
            }
            const sizes = job && [job.bodyBytes, job.baseBytes, job.changesBytes];
            if (!sizes || !sizes.every((n) => Number.isSafeInteger(n) && n >= 0)) {
                stop(failure('the request could not be read'));
                return false;
            }
        }
        const needed = job.bodyBytes + job.baseBytes + job.changesBytes;
        const part = chunk.subarray(0, needed - payloadBytes);
        if (part.length > 0) {
            payloadChunks.push(part);
            payloadBytes += part.length;
            chunk = chunk.subarray(part.length);
        }
        if (payloadBytes < needed) return true;
        const payload = Buffer.concat(payloadChunks, needed);
        const current = job;
        job = null;
        payloadChunks = [];
        payloadBytes = 0;
        // The stored items alone, sent while this process waits for its first request: no answer.
        if (current.storedItemsOnly === true) {
            if (current.bodyBytes !== 0 || !current.storage || !takeStoredItems(current, payload)) {
                stop(failure('the stored items did not reach the script'));
                return false;
            }
            continue;
        }
        const { outcome, html, retire } = runRequest(current, payload);
        if (retire) {
            input.pause();
            writeAnswer(outcome, html, () => exit(0));
            return false;
        }
        writeAnswer(outcome, html, null);
        setImmediate(prepareSpare);
    }
    return true;
}

input.on('data', take);
setImmediate(prepareSpare);
input.on('end', () => exit(0));
input.on('error', () => exit(0));
