'use strict';
// The local runtime server.
//
//   node kr-local-runtime.js <document root> <requested port>
//
// Listens on 127.0.0.1 only; when the requested port is taken it takes one the system
// chooses. The first thing written to standard output is one line of JSON, {"port": N},
// naming the port it listens on; everything written later is log text. The parent writes
// "alive" lines to standard input; the server exits when standard input closes or when no
// line came for a few seconds, so no server outlives the application that started it.
//
// Endpoints:
//   GET  /__kr_terminate         answers, then exits
//   GET  /__kr_bundle/<path>      the web libraries beside this script (also //__kr_bundle/...)
//   POST /__kr_check_syntax       {"src", "options"} -> {"errors": [...]} (jshint)
//   POST /__kr_uglify             {"src"} -> {"src"} (uglify-js)
//   GET  /<path>                  a file of the document root; ".krml" files are server pages
//   POST /<page>.krml             a server page's onPOST
//
// KR_DBDIR names the folder in which server pages may keep data (see `storage` below).

const fs = require('fs');
const http = require('http');
const path = require('path');
const vm = require('vm');

const WATCHDOG_TIMEOUT_MS = 5000;
const MAX_BODY_BYTES = 32 * 1024 * 1024;
const SCRIPT_TIMEOUT_MS = 5000;

const bundleRoot = __dirname;
const documentRoot = path.resolve(process.argv[2] || bundleRoot);
const requestedPort = parseInt(process.argv[3], 10);
const databaseFolder = process.env.KR_DBDIR || '';

// Folders of the bundle that are not web libraries.
const hiddenBundleFolders = new Set(['node_modules', 'test']);

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
    if (realFile !== realRoot && !realFile.startsWith(realRoot + path.sep)) {
        throw new HTTPError(403, 'Forbidden: path leaves the served folder');
    }
    return { file: realFile, segments };
}

function serveFile(req, res, file) {
    fs.stat(file, (statError, stats) => {
        if (statError) {
            sendText(res, 404, 'Not found');
            return;
        }
        if (stats.isDirectory()) {
            const index = path.join(file, 'index.html');
            if (fs.existsSync(index)) {
                serveFile(req, res, index);
            } else {
                sendText(res, 404, 'Not found');
            }
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
    // The raw path, not a parsed URL: "//__kr_bundle/..." (design documents join the server
    // address and an absolute path) is no host name, and ".." must reach the confinement check.
    const queryStart = req.url.search(/[?#]/);
    const rawPath = queryStart < 0 ? req.url : req.url.slice(0, queryStart);
    const pathname = ('/' + rawPath).replace(/^\/+/, '/');
    const query = new URLSearchParams(queryStart < 0 || req.url[queryStart] === '#' ? '' : req.url.slice(queryStart + 1).split('#')[0]);

    if (pathname === '/__kr_terminate') {
        sendText(res, 200, 'terminating');
        res.on('finish', () => process.exit(0));
        return;
    }
    if (pathname === '/__kr_check_syntax' || pathname === '/__kr_uglify') {
        if (req.method !== 'POST') {
            send(res, 405, 'text/plain; charset=utf-8', 'Method not allowed\n', { Allow: 'POST' });
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
        if (segments.length === 0 || hiddenBundleFolders.has(segments[0])) {
            throw new HTTPError(404, 'Not found');
        }
        serveFile(req, res, file);
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
    serveFile(req, res, file);
}

function handle(req, res) {
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

function startWatchdog() {
    let lastAlive = Date.now();
    process.stdin.on('data', () => {
        lastAlive = Date.now();
    });
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
        // The hand-shake: the first output of the process.
        process.stdout.write(JSON.stringify({ port: server.address().port }) + '\n');
        log('Serving ' + documentRoot + ' on http://127.0.0.1:' + server.address().port + '/');
    });
}

startWatchdog();
const validPort = Number.isInteger(requestedPort) && requestedPort >= 0 && requestedPort <= 65535;
listen(validPort ? requestedPort : 0, validPort && requestedPort !== 0);
