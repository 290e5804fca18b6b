'use strict';
// The floor of the server page figures: server pages answered the way the runtime server
// answered them before page scripts ran in processes of their own, in this process and with no
// isolation (a new context per request, the handler and each template expression run in it
// with a time limit). For measuring only; it serves nothing but .krml pages below its folder.
//
//   node pre-sandbox-floor.js <document root>
//
// Listens on 127.0.0.1 on a port the system chooses and writes {"port": N} as its first line;
// exits when standard input closes.

const fs = require('fs');
const http = require('http');
const path = require('path');
const vm = require('vm');

const MAX_BODY_BYTES = 32 * 1024 * 1024;
const SCRIPT_TIMEOUT_MS = 5000;
const documentRoot = path.resolve(process.argv[2]);
// It keeps no data: its pages' storage has no folder, so it reads nothing and refuses writes.
const databaseFolder = '';

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

// ---------------------------------------------------------------- files

// The server's own path confinement and server page file reader.
const { HTTPError, confinedPath, readServerPage } = require(path.join(__dirname, '..', '..', 'resources', 'local-server', 'kr-server-files.js'));

function readBody(req) {
    return new Promise((resolve, reject) => {
        const chunks = [];
        let size = 0;
        req.on('data', (chunk) => {
            size += chunk.length;
            if (size > MAX_BODY_BYTES) {
                reject(new HTTPError(413, 'Request body too large'));
                req.destroy();
                return;
            }
            chunks.push(chunk);
        });
        req.on('end', () => resolve(Buffer.concat(chunks).toString('utf8')));
        req.on('error', reject);
    });
}

// Data that server pages keep between requests: one JSON file in the database folder,
// written (atomically) only when a page stores something.
function makeStorage() {
    const file = databaseFolder ? path.join(databaseFolder, 'kr-storage.json') : '';
    const load = () => {
        if (!file) return {};
        try {
            const value = JSON.parse(fs.readFileSync(file, 'utf8'));
            return value && typeof value === 'object' && !Array.isArray(value) ? value : {};
        } catch (e) {
            return {};
        }
    };
    const save = (items) => {
        if (!file) throw new Error('No database folder is available');
        const temp = file + '.' + process.pid + '.tmp';
        fs.writeFileSync(temp, JSON.stringify(items));
        fs.renameSync(temp, file);
    };
    return {
        getItem(key) {
            const items = load();
            return Object.prototype.hasOwnProperty.call(items, String(key)) ? items[String(key)] : null;
        },
        setItem(key, value) {
            const items = load();
            items[String(key)] = value;
            save(items);
        },
        removeItem(key) {
            const items = load();
            delete items[String(key)];
            save(items);
        },
    };
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

// JSON that may stand inside a script element of the page.
function scriptSafeJSON(value) {
    const text = JSON.stringify(value === undefined ? null : value);
    return text.replace(/</g, '\\u003c').replace(/>/g, '\\u003e')
        .replace(/\u2028/g, '\\u2028').replace(/\u2029/g, '\\u2029');
}

function makeContext(req, pathname, searchParams, body) {
    const query = {};
    for (const [key, value] of searchParams) {
        query[key] = value;
    }
    const request = {
        method: req.method,
        url: req.url,
        path: pathname,
        headers: Object.assign({}, req.headers),
        query,
        body,
        form: Object.assign({}, query, parseForm(req.headers['content-type'], body)),
    };
    const response = {
        statusCode: 200,
        headers: {},
        form: {},
        redirectURL: null,
        setHeader(name, value) { this.headers[String(name)] = String(value); },
        setFormValue(name, value) { this.form[String(name)] = value; },
        redirect(location) { this.redirectURL = String(location); },
        _formJSON() { return scriptSafeJSON(this.form); },
    };
    const logLines = (...args) => log(args.map((a) => (typeof a === 'string' ? a : JSON.stringify(a))).join(' '));
    return vm.createContext({
        request,
        response,
        storage: makeStorage(),
        console: { log: logLines, info: logLines, warn: logLines, error: logLines },
    });
}

// Replaces every <%= expression %> by the expression's value in the page's context.
function fillTemplate(html, context) {
    return html.replace(/<%=([\s\S]*?)%>/g, (match, expression) => {
        const value = vm.runInContext(expression, context, { timeout: SCRIPT_TIMEOUT_MS, filename: 'template' });
        return value === undefined || value === null ? '' : String(value);
    });
}

async function serveServerPage(req, res, file, pathname, query) {
    const body = req.method === 'POST' ? await readBody(req) : '';
    let page;
    try {
        page = readServerPage(file);
    } catch (e) {
        log('Server page ' + path.basename(file) + ': ' + e.message);
        sendText(res, 500, 'Unable to read the server page: ' + e.message);
        return;
    }
    const context = makeContext(req, pathname, query, body);
    const eventName = req.method === 'POST' ? 'onPOST' : 'onGET';
    try {
        const source = page.events[eventName];
        if (source !== undefined) {
            const handler = vm.runInContext('(function(request, response) {\n' + source + '\n})',
                context, { filename: path.basename(file) + ':' + eventName, lineOffset: -1 });
            context.__kr_handler = handler;
            vm.runInContext('__kr_handler(request, response);', context, { timeout: SCRIPT_TIMEOUT_MS });
        }
        const response = context.response;
        if (response.redirectURL) {
            send(res, 302, 'text/plain; charset=utf-8', '', Object.assign({}, response.headers, { Location: response.redirectURL }));
            return;
        }
        const html = fillTemplate(page.html, context);
        const status = Number.isInteger(response.statusCode) ? response.statusCode : 200;
        send(res, status, 'text/html; charset=utf-8', html, response.headers);
    } catch (e) {
        log('Server page ' + path.basename(file) + ' (' + eventName + '): ' + (e && e.stack ? e.stack : e));
        sendText(res, 500, 'Server script error: ' + (e && e.message ? e.message : e));
    }
}

// ---------------------------------------------------------------- routing

async function route(req, res) {
    const queryStart = req.url.search(/[?#]/);
    const rawPath = queryStart < 0 ? req.url : req.url.slice(0, queryStart);
    const pathname = ('/' + rawPath).replace(/^\/+/, '/');
    const query = new URLSearchParams(queryStart < 0 || req.url[queryStart] === '#' ? '' : req.url.slice(queryStart + 1).split('#')[0]);
    const { file } = confinedPath(documentRoot, pathname);
    if (path.extname(file).toLowerCase() !== '.krml' || (req.method !== 'GET' && req.method !== 'POST')) {
        throw new HTTPError(404, 'Not found');
    }
    await serveServerPage(req, res, file, pathname, query);
}

function handle(req, res) {
    // Every answer ends its connection, as the runtime server's do: both are measured with the
    // same connection per request, so that the figure compares how the scripts run.
    res.setHeader('Connection', 'close');
    route(req, res).catch((e) => {
        if (e instanceof HTTPError) {
            sendText(res, e.status, e.message);
        } else {
            log('Error answering ' + req.method + ' ' + req.url + ': ' + (e && e.stack ? e.stack : e));
            sendText(res, 500, 'Internal server error');
        }
    });
}

// ---------------------------------------------------------------- start-up and watchdog

process.stdin.on('end', () => process.exit(0));
process.stdin.on('error', () => process.exit(0));
process.stdin.resume();
const server = http.createServer(handle);
server.keepAliveTimeout = 5000;
server.listen(0, '127.0.0.1', () => {
    process.stdout.write(JSON.stringify({ port: server.address().port }) + '\n');
});
