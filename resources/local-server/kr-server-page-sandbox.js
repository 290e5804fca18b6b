'use strict';
// Runs server page requests for the local runtime server, in a process the server starts:
//
//   node --experimental-permission ... -e <this file's text>
//
// Node's permission model denies the file system, child processes, workers and addons; the
// environment is empty. Each line of standard input is one request, as JSON:
//   {"page": {"name", "html", "events": {"onGET": ..., "onPOST": ...}},
//    "eventName", "request": {...}, "storage": {"available": bool, "items": {...}}, "timeoutMs", "limitMs"}
// and for each, one line of standard output is the outcome:
//   {"ok": true, "statusCode", "headers", "redirectURL", "html", "log": [...], "storageChanges": [...]}
//   {"ok": false, "message", "stack", "log": [...], "storageChanges": [...]}
// The server applies the storage changes (["set", key, JSON text] or ["remove", key]) itself.
// Requests come one at a time. The process exits when standard input closes, and after a
// request that hit the time limit (its outcome then says "retire": true).
//
// Each request's script runs in a new context that is handed no object of this process:
// request, response, storage and console are made inside the context from plain data, so
// nothing the script can reach leads back here. This process is the second wall, the server's
// time and memory limits the third.

const vm = require('vm');

const input = process.stdin;
const output = process.stdout;
const exit = process.exit.bind(process);
// A promise a script rejected and left alone is the script's own business; by default node
// would end this process, and with it the next request.
process.on('unhandledRejection', () => {});

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

// Made inside the script's context from the request as JSON text.
const prelude = `(function (inputText) {
'use strict';
const input = JSON.parse(inputText);
const log = [];
const storageChanges = [];
const items = Object.assign(Object.create(null), input.storage.items);
const has = (key) => Object.prototype.hasOwnProperty.call(items, key);
const text = (value) => (typeof value === 'string' ? value : JSON.stringify(value));
const scriptSafeJSON = (value) => JSON.stringify(value === undefined ? null : value)
    .replace(/</g, '\\\\u003c').replace(/>/g, '\\\\u003e')
    .replace(/\\u2028/g, '\\\\u2028').replace(/\\u2029/g, '\\\\u2029');
const logLines = (...args) => { log.push(args.map(text).join(' ')); };
globalThis.request = input.request;
globalThis.response = {
    statusCode: 200,
    headers: {},
    form: {},
    redirectURL: null,
    setHeader(name, value) { this.headers[String(name)] = String(value); },
    setFormValue(name, value) { this.form[String(name)] = value; },
    redirect(location) { this.redirectURL = String(location); },
    _formJSON() { return scriptSafeJSON(this.form); },
};
globalThis.storage = {
    getItem(key) {
        key = String(key);
        return has(key) ? JSON.parse(items[key]) : null;
    },
    setItem(key, value) {
        if (!input.storage.available) throw new Error('No database folder is available');
        key = String(key);
        const json = JSON.stringify(value === undefined ? null : value);
        items[key] = json;
        storageChanges.push(['set', key, json]);
    },
    removeItem(key) {
        if (!input.storage.available) throw new Error('No database folder is available');
        key = String(key);
        delete items[key];
        storageChanges.push(['remove', key]);
    },
};
globalThis.console = { log: logLines, info: logLines, warn: logLines, error: logLines };
const describe = (value) => {
    try {
        if (value !== null && typeof value === 'object' && 'message' in value) {
            return { message: String(value.message), stack: String(value.stack || value.message) };
        }
        return { message: String(value), stack: String(value) };
    } catch (e) {
        return { message: 'the script threw an unreadable value', stack: '' };
    }
};
Object.defineProperty(globalThis, '__kr_outcome', {
    value: (thrown, threw, html) => {
        const base = { log, storageChanges };
        if (threw) {
            return JSON.stringify(Object.assign(base, { ok: false }, describe(thrown)));
        }
        const r = globalThis.response;
        const headers = {};
        if (r && r.headers && typeof r.headers === 'object') {
            for (const name of Object.keys(r.headers)) headers[name] = String(r.headers[name]);
        }
        return JSON.stringify(Object.assign(base, {
            ok: true,
            statusCode: r ? r.statusCode : 200,
            headers,
            redirectURL: r && r.redirectURL ? String(r.redirectURL) : null,
            html: typeof html === 'string' ? html : '',
        }));
    },
});
})`;

// The handler and the template expressions run here, in the context, so that even their
// errors are read inside it.
const runner = `(function (page, eventName) {
'use strict';
const indirectEval = eval;
const run = (code) => indirectEval(code);
try {
    const source = page.events[eventName];
    if (typeof source === 'string') {
        const handler = run('(function(request, response) {\\n' + source + '\\n})');
        handler(request, response);
    }
    if (response && response.redirectURL) return __kr_outcome(null, false, '');
    const html = page.html.replace(/<%=([\\s\\S]*?)%>/g, (match, expression) => {
        const value = run(expression);
        return value === undefined || value === null ? '' : String(value);
    });
    return __kr_outcome(null, false, html);
} catch (e) {
    return __kr_outcome(e, true, '');
}
})`;

function failure(message) {
    return JSON.stringify({ ok: false, message, stack: message, log: [], storageChanges: [], retire: true });
}

// The outcome line of one request, and whether this process must go after it.
function runRequest(text) {
    let job;
    try {
        job = JSON.parse(text);
    } catch (e) {
        return { outcome: failure('the request could not be read'), retire: true };
    }
    const context = vm.createContext(Object.create(null), {
        name: 'server page',
        codeGeneration: { strings: true, wasm: false },
        microtaskMode: 'afterEvaluate',
    });
    const options = { timeout: job.timeoutMs, displayErrors: false };
    try {
        vm.runInContext(prelude, context, options)(JSON.stringify({ request: job.request, storage: job.storage }));
        const pageJSON = JSON.stringify({ html: String(job.page.html), events: job.page.events });
        // The page goes in as text and is parsed there, so the context holds only its own objects.
        const call = vm.runInContext(
            '(function (pageText, eventName) { return (' + runner + ')(JSON.parse(pageText), eventName); })',
            context, options);
        context.__kr_call = call;
        context.__kr_page = pageJSON;
        context.__kr_event = String(job.eventName);
        const outcome = vm.runInContext('__kr_call(__kr_page, __kr_event)', context,
            Object.assign({ filename: job.page.name + ':' + job.eventName }, options));
        if (typeof outcome !== 'string') {
            return { outcome: failure('the script replaced its own outcome'), retire: true };
        }
        return { outcome, retire: false };
    } catch (e) {
        // Thrown by the context's limits (time) rather than by the script.
        return {
            outcome: failure(e && e.code === 'ERR_SCRIPT_EXECUTION_TIMEOUT'
                ? 'the script did not finish within ' + job.limitMs / 1000 + ' s'
                : 'the script failed (' + (e && e.message ? e.message : 'unknown') + ')'),
            retire: true,
        };
    }
}

let pending = '';
input.setEncoding('utf8');
input.on('data', (chunk) => {
    pending += chunk;
    let end;
    while ((end = pending.indexOf('\n')) >= 0) {
        const line = pending.slice(0, end);
        pending = pending.slice(end + 1);
        const { outcome, retire } = runRequest(line);
        if (retire) {
            input.pause();
            output.write(outcome + '\n', () => exit(0));
            return;
        }
        output.write(outcome + '\n');
    }
});
input.on('end', () => exit(0));
input.on('error', () => exit(0));
