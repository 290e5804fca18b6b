'use strict';
// The local runtime server.
//
//   node kr-local-runtime.js <document root> <requested port> [<site host>]
//
// Listens on 127.0.0.1 only; when the requested port is taken it takes one the system
// chooses (a site's, a moment later). A site host ("<name>.localhost", which browsers resolve to the loopback
// themselves) gives the served site an origin of its own: its pages are served under that
// name only, so what one project's pages store or register in a browser (storage, cookies,
// service workers) never meets another's. Such a server also listens on ::1 with the same
// port, where browsers try the name first. The first thing written to standard output is one line of JSON,
// {"port": N, "token": "..."}, naming the port it listens on and the secret of this run;
// everything written later is log text. The parent writes "alive" lines to standard input;
// the server exits when standard input closes or when no line came for a few seconds, so no
// server outlives the application that started it.
//
// Only the application may talk to it: every request must name 127.0.0.1 or localhost with
// this port as its Host, or with a site host that name only (control requests may still name
// the loopback); 421 otherwise, which defeats DNS rebinding. The control requests must be
// POSTs carrying the run's token in the X-Korvane-Token header, with no foreign Origin (403
// otherwise); a site's own origin is its host's.
//
// Endpoints:
//   POST /__kr_terminate          (control) answers, then exits
//   POST /__kr_check_syntax       (control) {"src", "options"} -> {"errors": [...]} (jshint),
//                                 or {"sources": [...], "options"} -> {"results": [{"errors"} or {"error"}, ...]}
//   POST /__kr_uglify             (control) {"src"} -> {"src"} (uglify-js)
//                                 (both in worker threads, bounded in time and size: kr-server-tools.js)
//   GET  /__kr_bundle/<path>      the web libraries beside this script (also //__kr_bundle/...)
//   GET  /<path>                  a file of the document root; ".krml" files are server pages
//   POST /<page>.krml             a server page's onPOST
//
// KR_DBDIR names the folder in which server pages keep their data, a store per project
// (kr-server-storage.js). Their scripts run in processes of their own (kr-server-page-scripts.js).

const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const path = require('path');
const { ProjectStore, StorageError } = require('./kr-server-storage.js');
const { ServerPageScripts, Refusal, MAX_BODY_BYTES } = require('./kr-server-page-scripts.js');
const { ServerTools, ToolRefusal } = require('./kr-server-tools.js');

const WATCHDOG_TIMEOUT_MS = 5000;
// A request body is judged by its own rate from the moment it is read: it is refused once no
// byte of it has come for BODY_IDLE_MS, or once, after BODY_GRACE_MS, it has come slower on
// the whole than BODY_SLOWEST_BYTES_PER_SECOND. A body that has come whole is never refused
// for its time, and the time it waited for room to be read does not count against it.
const BODY_GRACE_MS = 10000;
const BODY_IDLE_MS = 10000;
const BODY_SLOWEST_BYTES_PER_SECOND = 16 * 1024;
const BODY_CHECK_MS = 500;
// Answers are written a slice at a time; a client that takes none of a slice for this long
// is cut off, and what was held for it is let go.
const ANSWER_SLICE_BYTES = 1024 * 1024;
const ANSWER_STALL_MS = 10000;

const tokenHeader = 'x-korvane-token';
const runToken = crypto.randomBytes(32).toString('hex');
const controlPaths = new Set(['/__kr_terminate', '/__kr_check_syntax', '/__kr_uglify']);

const bundleRoot = __dirname;
const documentRoot = path.resolve(process.argv[2] || bundleRoot);
const requestedPort = parseInt(process.argv[3], 10);
// One DNS label under "localhost", lower case: nothing else may name the site.
const siteHost = process.argv[4] === undefined || process.argv[4] === '' ? '' : process.argv[4];
if (siteHost && !/^[a-z0-9](?:[a-z0-9-]{0,61}[a-z0-9])?\.localhost$/.test(siteHost)) {
    process.stderr.write('kr-local-runtime: not a site host under localhost: ' + JSON.stringify(siteHost) + '\n');
    process.exit(1);
}
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

// Log text, one entry at a time. Entries carry what pages print and throw (and their file
// names), so control characters are escaped and the further lines of an entry are marked:
// every line starts with the server's own words, and nothing a page prints can pass for the
// hand-shake or for a line of the server's own.
function log(text) {
    const lines = String(text)
        .replace(/[\x00-\x09\x0b\x0c\x0e-\x1f\x7f\u2028\u2029]/g,
                 (c) => (c === '\t' ? '    ' : '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0')))
        .split(/\r\n|\r|\n/);
    process.stdout.write(lines.join('\n  | ') + '\n');
}

// ---------------------------------------------------------------- answers

// A name a request brings (a query parameter, a header) or a script gives (an answer's header)
// as a property of its own: assigned, "__proto__" would change the object's prototype instead.
function setOwn(map, name, value) {
    Object.defineProperty(map, name, { value, writable: true, enumerable: true, configurable: true });
}

function send(res, status, contentType, body, extraHeaders) {
    if (res.headersSent) {
        res.end();
        return;
    }
    // 204 and 304 answers have no body, nor a length or type of one.
    const bodyless = status === 204 || status === 304;
    const headers = bodyless ? { 'Cache-Control': 'no-cache' } : {
        'Content-Type': contentType,
        'Content-Length': Buffer.byteLength(body),
        'Cache-Control': 'no-cache',
    };
    for (const name of Object.keys(extraHeaders || {})) setOwn(headers, name, extraHeaders[name]);
    // The reason phrase is named each time: a head that failed to go out must leave no trace.
    res.writeHead(status, http.STATUS_CODES[status] || 'Unknown', headers);
    if (bodyless || Buffer.byteLength(body) <= ANSWER_SLICE_BYTES) {
        res.end(bodyless ? undefined : body);
        return;
    }
    writeInSlices(res, typeof body === 'string' ? Buffer.from(body, 'utf8') : body);
}

// The memory of large answers goes back to the system once their clients are done with them
// (or gone): left alone, a server that has nothing more to do would not collect them.
const collectGarbage = (() => {
    try {
        require('v8').setFlagsFromString('--expose-gc');
        return require('vm').runInNewContext('gc');
    } catch (e) {
        return null;
    }
})();
const COLLECT_AFTER_MS = 1000;
let collectTimer = null;

function collectSoon() {
    if (collectGarbage === null || collectTimer !== null) return;
    collectTimer = setTimeout(() => {
        collectTimer = null;
        collectGarbage();
    }, COLLECT_AFTER_MS);
    collectTimer.unref();
}

// Writes a large answer a slice at a time, each once the client has taken the one before.
function writeInSlices(res, answer) {
    let data = answer;
    let offset = 0;
    let stall = null;
    const cutOff = () => res.destroy();
    const next = () => {
        clearTimeout(stall);
        while (data !== null && offset < data.length && !res.destroyed) {
            const slice = data.subarray(offset, offset + ANSWER_SLICE_BYTES);
            offset += slice.length;
            if (offset >= data.length) {
                res.end(slice);
                return;
            }
            if (!res.write(slice)) {
                stall = setTimeout(cutOff, ANSWER_STALL_MS);
                res.once('drain', next);
                return;
            }
        }
    };
    res.once('close', () => {
        clearTimeout(stall);
        res.removeListener('drain', next);
        data = null;
        collectSoon();
    });
    next();
}

function sendText(res, status, text) {
    send(res, status, 'text/plain; charset=utf-8', text + '\n');
}

function sendJSON(res, status, value) {
    send(res, status, 'application/json; charset=utf-8', JSON.stringify(value));
}

// ---------------------------------------------------------------- files

const { HTTPError, confinedPath, isInside, readServerPage } = require('./kr-server-files.js');

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
// A body that comes too slowly (see BODY_SLOWEST_BYTES_PER_SECOND) is refused with 408 and its
// connection closed.
function readBody(req) {
    return new Promise((resolve, reject) => {
        req.bodyBytesRead = 0;
        let watch = null;
        const tooLarge = () => {
            clearInterval(watch);
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
        const stop = (error) => {
            refused = true;
            clearInterval(watch);
            chunks.length = 0;
            reject(error);
        };
        // What came before the reading began (held in the request's buffer) counts as come.
        const started = Date.now();
        let lastByteAt = started;
        watch = setInterval(() => {
            if (refused || req.complete || (Number.isFinite(declared) && size >= declared)) return;
            const slowness = bodySlowness(size, started, lastByteAt, Date.now());
            if (slowness) stop(new HTTPError(408, 'Request timeout: ' + slowness));
        }, BODY_CHECK_MS);
        // Another request that needs the place of this body while it comes slowly.
        req.cutOffBody = () => {
            if (refused || req.complete) return false;
            stop(new HTTPError(408, 'Request timeout: the body came too slowly while other requests waited'));
            return true;
        };
        req.on('data', (chunk) => {
            req.bodyBytesRead += chunk.length;
            if (refused) return;
            size += chunk.length;
            lastByteAt = Date.now();
            if (size > MAX_BODY_BYTES) {
                refused = true;
                chunks.length = 0;
                tooLarge();
                return;
            }
            chunks.push(chunk);
        });
        req.on('end', () => {
            clearInterval(watch);
            if (!refused) resolve(Buffer.concat(chunks, size));
        });
        req.on('error', (e) => {
            clearInterval(watch);
            reject(e);
        });
        req.on('close', () => {
            clearInterval(watch);
            if (!req.complete) reject(new HTTPError(400, 'Bad request: the body was cut off'));
        });
    });
}

// Why a body of which `bytes` have come since `started` (the last at `lastByteAt`) is too slow
// at `now`, or '' while it comes fast enough.
function bodySlowness(bytes, started, lastByteAt, now) {
    if (now - lastByteAt >= BODY_IDLE_MS) {
        return 'no part of the body came for ' + Math.round((now - lastByteAt) / 1000) + ' s';
    }
    const rate = 1000 * bytes / Math.max(1, now - started);
    if (now - started >= BODY_GRACE_MS && rate < BODY_SLOWEST_BYTES_PER_SECOND) {
        return 'the body came at ' + Math.round(rate) + ' bytes a second, slower than the ' +
            BODY_SLOWEST_BYTES_PER_SECOND + ' this server waits for';
    }
    return '';
}

// `sources`: the body may give "sources" (a list of scripts, each checked on its own) in place of "src".
async function readJSONObject(req, sources) {
    const text = (await readBody(req)).toString('utf8');
    let value;
    try {
        value = JSON.parse(text);
    } catch (e) {
        throw new HTTPError(400, 'Bad request: the body is not valid JSON (' + e.message + ')');
    }
    if (value === null || typeof value !== 'object' || Array.isArray(value)) {
        throw new HTTPError(400, 'Bad request: the body is not a JSON object');
    }
    if (sources && value.sources !== undefined) {
        if (!Array.isArray(value.sources) || value.sources.length === 0 ||
            !value.sources.every((source) => typeof source === 'string')) {
            throw new HTTPError(400, 'Bad request: "sources" must be a list of strings');
        }
        return value;
    }
    if (typeof value.src !== 'string') {
        throw new HTTPError(400, 'Bad request: "src" must be a string');
    }
    return value;
}

// ---------------------------------------------------------------- syntax check and minifier

// Both run in worker threads (kr-server-tools.js): this thread goes on serving meanwhile.
const tools = new ServerTools(log);

async function runTool(req, res, tool) {
    const body = await readJSONObject(req, tool === 'check');
    let answer;
    try {
        answer = await tools.run(tool, body.sources !== undefined ? body.sources : body.src, body.options);
    } catch (e) {
        if (!(e instanceof ToolRefusal)) throw e;
        sendJSON(res, e.status, { error: e.message });
        return;
    }
    send(res, answer.status, 'application/json; charset=utf-8', answer.text);
}

// ---------------------------------------------------------------- server pages

// The server pages' stored data (kr-server-storage.js) and their scripts (kr-server-page-scripts.js).
const store = new ProjectStore(databaseFolder, documentRoot, log);
const scripts = new ServerPageScripts({
    sandboxSource: fs.readFileSync(path.join(__dirname, 'kr-server-page-sandbox.js'), 'utf8'),
    cwd: bundleRoot,
    store,
    log,
});

// The request as the script sees it; the script's process adds the body and the form. A name
// given twice has its last value.
function requestForScript(req, pathname, searchParams) {
    const query = {};
    for (const [key, value] of searchParams) {
        setOwn(query, key, value);
    }
    const headers = {};
    for (const name of Object.keys(req.headers)) setOwn(headers, name, req.headers[name]);
    // Node leaves out of req.headers a header it cannot assign (__proto__): joined as it joins
    // others of one name.
    for (let i = 0; i + 1 < req.rawHeaders.length; i += 2) {
        const name = req.rawHeaders[i].toLowerCase();
        if (Object.hasOwn(req.headers, name)) continue;
        setOwn(headers, name, Object.hasOwn(headers, name) ? headers[name] + ', ' + req.rawHeaders[i + 1] : req.rawHeaders[i + 1]);
    }
    delete headers[tokenHeader];
    return {
        method: req.method,
        url: req.url,
        path: pathname,
        headers,
        query,
    };
}

// Headers a script may not set: they describe the answer's framing, which is ours.
const framingHeaders = new Set(['content-length', 'transfer-encoding', 'connection']);

// A redirect address as a header value: characters past ASCII are percent-encoded; one with
// control characters (which would split the header) is refused.
function redirectLocation(address) {
    let location;
    try {
        location = address.replace(/[^\x00-\x7f]/gu, (c) => encodeURIComponent(c));
    } catch (e) {
        throw new Error('the redirect address is not valid text');
    }
    if (/[\x00-\x1f\x7f]/.test(location)) {
        throw new Error('the redirect address holds control characters (such as a line break)');
    }
    return location;
}

function refuse(res, refusal) {
    const headers = refusal.retryAfter ? { 'Retry-After': String(refusal.retryAfter) } : {};
    if (!res.req.complete) closeAfterAnswer(res.req, res, headers);
    send(res, refusal.status, 'text/plain; charset=utf-8', refusal.message + '\n', headers);
}

// The connection of a request whose body is not read goes once the answer is out; the rest
// of the body is read and dropped meanwhile (so the client gets the answer instead of a reset
// connection), and a client that keeps sending is cut off.
function closeAfterAnswer(req, res, headers) {
    headers.Connection = 'close';
    res.on('finish', () => {
        req.on('data', () => {});
        setTimeout(() => req.socket.destroy(), 10000).unref();
    });
}

async function serveServerPage(req, res, file, pathname, query) {
    const pageName = path.basename(file);
    // A body that came with the request's head (as a form's does) has arrived once what came
    // with the head has been read: it takes none of the places of the bodies still on their
    // way, so clients that trickle theirs (and come again when cut off) cannot keep it out.
    if (req.method === 'POST' && !req.complete) await new Promise((resolve) => setImmediate(resolve));
    const awaitsBody = req.method === 'POST' && !req.complete;
    let stats;
    try {
        stats = fs.statSync(file);
    } catch (e) {
        throw new HTTPError(404, 'Not found');
    }
    let ticket;
    try {
        ticket = scripts.admit(file, stats.mtimeMs + ':' + stats.size + ':' + stats.ino, pageName, awaitsBody);
    } catch (e) {
        if (e instanceof Refusal) {
            refuse(res, e);
            return;
        }
        throw e;
    }
    // A client that goes away gives up its place, and the answer held for it.
    res.on('close', () => {
        scripts.release(ticket);
        scripts.answerGone(ticket);
    });
    try {
        await runServerPage(req, res, ticket, file, pageName, pathname, query, awaitsBody);
    } catch (e) {
        if (!(e instanceof Refusal)) throw e;
        refuse(res, e);
    } finally {
        scripts.release(ticket);
    }
}

async function runServerPage(req, res, ticket, file, pageName, pathname, query, awaitsBody) {
    let body = Buffer.alloc(0);
    if (req.method === 'POST' && !awaitsBody) {
        body = await readBody(req);
    } else if (req.method === 'POST') {
        // What the body has sent so far: read, or waiting to be read.
        ticket.bodyArrived = () => (req.bodyBytesRead || 0) + req.readableLength;
        ticket.bodyWhole = () => req.complete;
        ticket.bodyHeld = () => req.readableLength >= req.readableHighWaterMark;
        ticket.cutOff = () => Boolean(req.cutOffBody && req.cutOffBody());
        const declared = Number(req.headers['content-length']);
        const known = Number.isFinite(declared) && declared >= 0;
        if (known && declared > MAX_BODY_BYTES) await readBody(req); // refused at once, without waiting
        await scripts.reserveBody(ticket, known ? declared : MAX_BODY_BYTES);
        body = await readBody(req);
        scripts.bodyRead(ticket, body.length);
    }
    let page;
    try {
        page = readServerPage(file);
    } catch (e) {
        log('Server page ' + pageName + ': ' + e.message);
        sendText(res, 500, 'Unable to read the server page: ' + e.message);
        return;
    }
    await store.ready();
    const eventName = req.method === 'POST' ? 'onPOST' : 'onGET';
    const outcome = await scripts.run(ticket, {
        page: { name: pageName, html: page.html, events: page.events },
        eventName,
        request: requestForScript(req, pathname, query),
        contentType: req.headers['content-type'] || '',
    }, body);
    if (Array.isArray(outcome.log)) {
        for (const line of outcome.log.slice(0, 1000)) log('Server page ' + pageName + ': ' + String(line));
    }
    if (Number(outcome.logDropped) > 0) {
        log('Server page ' + pageName + ': ' + Number(outcome.logDropped) + ' more console lines left out');
    }
    // No room to hold the answer for the client: as if the request had not run, stored items included.
    if (outcome.refusal) {
        refuse(res, outcome.refusal);
        return;
    }
    try {
        await store.apply(outcome.storageChanges);
    } catch (e) {
        if (!(e instanceof StorageError)) throw e;
        log('Server page ' + pageName + ' (' + eventName + '): ' + e.message);
        sendText(res, 500, 'Server script error: storage: ' + e.message);
        return;
    }
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
            if (!framingHeaders.has(name.toLowerCase())) setOwn(headers, name, value);
        }
    }
    try {
        if (typeof outcome.redirectURL === 'string' && outcome.redirectURL) {
            const location = redirectLocation(outcome.redirectURL);
            send(res, 302, 'text/plain; charset=utf-8', '', Object.assign(headers, { Location: location }));
            return;
        }
        const status = Number.isInteger(outcome.statusCode) ? outcome.statusCode : 200;
        if (status < 200 || status > 599) {
            throw new Error('invalid status code ' + status);
        }
        send(res, status, 'text/html; charset=utf-8', outcome.html, headers);
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

    if (!allowedHost(req.headers.host, controlPaths.has(pathname))) {
        throw new HTTPError(421, 'Misdirected request: this server answers only for ' + (siteHost || '127.0.0.1') +
            ':' + listeningPort);
    }
    if (controlPaths.has(pathname)) {
        if (req.method !== 'POST') {
            send(res, 405, 'text/plain; charset=utf-8', 'Method not allowed\n', { Allow: 'POST' });
            return;
        }
        refuseForeignOrigin(req);
        if (!tokenMatches(req.headers[tokenHeader])) {
            throw new HTTPError(403, 'Forbidden: this request needs the token of the running server');
        }
        if (pathname === '/__kr_terminate') {
            sendText(res, 200, 'terminating');
            res.on('finish', () => process.exit(0));
            return;
        }
        await runTool(req, res, pathname === '/__kr_check_syntax' ? 'check' : 'minify');
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
        // A page's onPOST changes things: another site may not make a browser send one.
        if (req.method === 'POST') refuseForeignOrigin(req);
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

// The names a request may give as its Host: the site host for the site's pages when there is
// one, else (and for the application's control requests) "127.0.0.1" or "localhost"; each
// with this server's port when a port is named.
const loopbackNames = '127\\.0\\.0\\.1|localhost';
const siteNames = siteHost ? siteHost.replace(/\./g, '\\.') : loopbackNames;
const pageHostPattern = new RegExp('^(' + siteNames + ')(?::(\\d+))?$', 'i');
const controlHostPattern = new RegExp('^(' + (siteHost ? loopbackNames + '|' : '') + siteNames + ')(?::(\\d+))?$', 'i');
// The site's own origin: one of its names with this port.
const originPattern = new RegExp('^http://(' + siteNames + '):(\\d+)$', 'i');

function allowedHost(host, control) {
    if (typeof host !== 'string') return false;
    const match = (control ? controlHostPattern : pageHostPattern).exec(host.trim());
    return match !== null && (match[2] === undefined || Number(match[2]) === listeningPort);
}

function allowedOrigin(origin) {
    const match = originPattern.exec(origin);
    return match !== null && Number(match[2]) === listeningPort;
}

function refuseForeignOrigin(req) {
    const origin = req.headers.origin;
    if (origin !== undefined && !allowedOrigin(origin)) {
        throw new HTTPError(403, 'Forbidden: cross-site request');
    }
}

function tokenMatches(value) {
    if (typeof value !== 'string') return false;
    const given = Buffer.from(value, 'utf8');
    const expected = Buffer.from(runToken, 'utf8');
    return given.length === expected.length && crypto.timingSafeEqual(given, expected);
}

function handle(req, res) {
    // Every answer ends its connection. A client keeping one for re-use waits for the server
    // to close it when idle, and the application's web views never close their end of one
    // closed so: each would stay half-closed (CLOSE-WAIT) in the application. Told here,
    // the client closes the connection itself once it has read the answer.
    res.setHeader('Connection', 'close');
    route(req, res).catch((e) => {
        if (e instanceof HTTPError && e.status === 413) {
            const headers = {};
            closeAfterAnswer(req, res, headers);
            send(res, 413, 'text/plain; charset=utf-8', e.message + '\n', headers);
        } else if (e instanceof HTTPError && e.status === 408) {
            // The rest of a body that was too slow is not waited for.
            send(res, 408, 'text/plain; charset=utf-8', e.message + '\n', { Connection: 'close' });
            res.on('finish', () => req.socket.destroy());
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
    process.on('exit', () => scripts.endAll());
    for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) {
        process.on(signal, () => process.exit(0));
    }
    process.stdin.on('end', () => process.exit(0));
    process.stdin.on('error', () => process.exit(0));
    process.stdin.resume();
    // Judged after the input that came meanwhile has been read: timers run before input in each
    // turn, so after a stall of this process (a busy machine) the alive lines waiting in the pipe
    // would otherwise not count, and the server would end while its application is still there.
    setInterval(() => {
        if (Date.now() - lastAlive <= WATCHDOG_TIMEOUT_MS) return;
        setImmediate(() => {
            if (Date.now() - lastAlive > WATCHDOG_TIMEOUT_MS) process.exit(0);
        });
    }, 500).unref();
}

// A site is previewed at a port of its own, so that what its pages store is found again: one
// still held when the server starts, as by the site's previous server while it ends (a preview
// closed and run again at once), is tried again for a moment before another is taken.
const SITE_PORT_WAIT_MS = 1500;
const SITE_PORT_RETRY_MS = 100;

function waitForSitePort(port, fallback, since) {
    return siteHost !== '' && fallback && Date.now() - since < SITE_PORT_WAIT_MS;
}

function listen(port, fallback, tries = 0, since = Date.now()) {
    const server = http.createServer(handle);
    server.keepAliveTimeout = 5000;
    server.once('error', (error) => {
        if (error.code === 'EADDRINUSE' && waitForSitePort(port, fallback, since)) {
            setTimeout(() => listen(port, fallback, tries, since), SITE_PORT_RETRY_MS);
            return;
        }
        if (fallback && (error.code === 'EADDRINUSE' || error.code === 'EACCES')) {
            listen(0, false);
            return;
        }
        process.stderr.write('kr-local-runtime: unable to listen: ' + error.message + '\n');
        process.exit(1);
    });
    server.listen(port, '127.0.0.1', () => {
        const started = () => {
            listeningPort = server.address().port;
            // The hand-shake: the first output of the process.
            process.stdout.write(JSON.stringify({ port: listeningPort, token: runToken }) + '\n');
            log('Serving ' + documentRoot + ' on http://' + (siteHost || '127.0.0.1') + ':' + listeningPort + '/');
        };
        if (!siteHost) {
            started();
            return;
        }
        // Browsers try ::1 first for a name under localhost: the port is ours there too, or
        // another on both; a machine without IPv6 has the name on 127.0.0.1 alone.
        const other = http.createServer(handle);
        other.keepAliveTimeout = server.keepAliveTimeout;
        other.once('error', (error) => {
            if (error.code === 'EADDRNOTAVAIL' || error.code === 'EAFNOSUPPORT') {
                started();
            } else if (error.code === 'EADDRINUSE' && waitForSitePort(port, fallback, since)) {
                server.close(() => setTimeout(() => listen(port, fallback, tries, since), SITE_PORT_RETRY_MS));
            } else if (error.code === 'EADDRINUSE' && tries < 5) {
                server.close(() => listen(0, false, tries + 1));
            } else {
                process.stderr.write('kr-local-runtime: unable to listen on ::1: ' + error.message + '\n');
                process.exit(1);
            }
        });
        other.listen(server.address().port, '::1', started);
    });
}

startWatchdog();
const validPort = Number.isInteger(requestedPort) && requestedPort >= 0 && requestedPort <= 65535;
listen(validPort ? requestedPort : 0, validPort && requestedPort !== 0);
