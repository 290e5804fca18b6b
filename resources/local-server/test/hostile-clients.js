'use strict';
// Clients that load the local runtime server the way a careless or hostile page (or many tabs
// of one) would; used by the server's tests.
//
//   node hostile-clients.js <scenario> <port> <token> [<server pid>]
//
// Prints one line of JSON with what the clients saw.

const http = require('http');
const net = require('net');
const fs = require('fs');

const [scenario, portText, token, pidText] = process.argv.slice(2);
const port = Number(portText);

function elapsed(since) {
    return Date.now() - since;
}

// One request on a connection of its own; resolves with {status, bytes, ms} (status 0: no answer).
function fetch(method, path, body, headers) {
    const started = Date.now();
    return new Promise((resolve) => {
        const req = http.request({ host: '127.0.0.1', port, method, path, agent: false,
                                   headers: Object.assign({}, headers || {}) }, (res) => {
            let bytes = 0;
            let text = '';
            res.on('data', (chunk) => {
                bytes += chunk.length;
                if (text.length < 200) text += chunk.toString('utf8', 0, 200);
            });
            res.on('end', () => resolve({ status: res.statusCode, bytes, ms: elapsed(started), text }));
            res.on('error', (e) => resolve({ status: 0, bytes, ms: elapsed(started), error: String(e && e.message) }));
        });
        req.on('error', (e) => resolve({ status: 0, bytes: 0, ms: elapsed(started), error: String(e && e.message) }));
        req.end(body);
    });
}

function sleep(ms) {
    return new Promise((resolve) => setTimeout(resolve, ms));
}

function residentKiB(pid) {
    try {
        const match = /VmRSS:\s+(\d+)/.exec(fs.readFileSync('/proc/' + pid + '/status', 'utf8'));
        return match ? Number(match[1]) : -1;
    } catch (e) {
        return -1;
    }
}

// A script of about `chars` characters for the minifier.
function largeScript(chars) {
    let src = '';
    for (let i = 0; src.length < chars; ++i) {
        src += 'function handler' + i + '(event, items) { var total = 0, index; for (index = 0; index < items.length; ' +
            'index += 1) { if (items[index] === ' + i + ') { total += items[index]; } } return { total: total, ' +
            'label: "Item " + total }; }\n';
    }
    return src;
}

// A large minification is under way while the design surface asks for a file; whether the
// minification had been answered by the time the file came.
async function minifyWhileServing() {
    const body = JSON.stringify({ src: largeScript(Number(process.env.KR_SCRIPT_CHARS || 2000000)) });
    let minifyAnswered = false;
    const minify = http.request({ host: '127.0.0.1', port, method: 'POST', path: '/__kr_uglify', agent: false,
                                  headers: { 'Content-Type': 'application/json', 'X-Korvane-Token': token } },
                                (res) => { minifyAnswered = true; res.resume(); });
    minify.on('error', () => {});
    minify.end(body);
    await sleep(500);
    const file = await fetch('GET', '/index.html');
    const fileBeforeMinify = !minifyAnswered;
    minify.destroy();
    return { fileStatus: file.status, fileMs: file.ms, fileBeforeMinify };
}

// 64 connections send the body of a POST a byte a second; meanwhile the page is asked for,
// and once the trickling clients have been cut off, posted to. When each trickling client was
// cut off and each GET answered, counted from the tricklers' start.
async function tricklingBodies() {
    const declared = 1024 * 1024;
    // The page has a process ready, as it has once it has been asked for: the GETs below wait
    // for no process to start.
    const alone = await fetch('GET', '/home.krml?name=warm');
    const started = Date.now();
    const clients = [];
    for (let i = 0; i < 64; ++i) {
        const client = { closedAfter: -1, answer: '' };
        const socket = net.connect(port, '127.0.0.1', () => {
            socket.write('POST /home.krml HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n' +
                'Content-Length: ' + declared + '\r\n\r\nitem=');
            client.timer = setInterval(() => socket.write('x'), 1000);
        });
        socket.on('data', (chunk) => { client.answer += chunk.toString('latin1'); });
        socket.on('error', () => {});
        socket.on('close', () => {
            clearInterval(client.timer);
            client.closedAfter = elapsed(started);
        });
        client.socket = socket;
        clients.push(client);
    }
    await sleep(1500);
    const gets = [];
    for (let i = 0; i < 5; ++i) {
        const get = await fetch('GET', '/home.krml?name=Ada');
        gets.push(Object.assign(get, { doneMs: elapsed(started) }));
    }
    // Each is cut off after the time a body has; the wait only ends a scenario gone wrong.
    while (clients.some((c) => c.closedAfter < 0) && elapsed(started) < 90000) await sleep(200);
    const cut = clients.filter((c) => c.closedAfter >= 0);
    for (const c of clients) c.socket.destroy();
    const post = await fetch('POST', '/home.krml', 'item=tea', { 'Content-Type': 'application/x-www-form-urlencoded' });
    const timedOut = cut.filter((c) => /^HTTP\/1\.1 408 /.test(c.answer));
    return {
        aloneMs: alone.ms,
        getStatuses: gets.map((g) => g.status),
        getMaxMs: Math.max(...gets.map((g) => g.ms)),
        getsDoneMs: gets.map((g) => g.doneMs),
        cut: cut.length,
        // Cut off after the time a body has, or refused at once (there is no room for more bodies).
        refused: cut.filter((c) => /^HTTP\/1\.1 (408|503) /.test(c.answer)).length,
        timedOut: timedOut.length,
        firstTimedOutMs: Math.min(...timedOut.map((c) => c.closedAfter)),
        latestCutMs: Math.max(...cut.map((c) => c.closedAfter)),
        postStatus: post.status,
    };
}

// `count` connections that ask for the page with a large answer and never read it.
function clientsThatNeverRead(count) {
    return Array.from({ length: count }, () => {
        const socket = net.connect(port, '127.0.0.1', () => {
            socket.write('GET /big.krml HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n');
        });
        socket.on('error', () => {});
        socket.pause(); // never read
        return socket;
    });
}

// Twelve clients ask for a page with a large answer and never read it.
async function unreadAnswers() {
    const pid = Number(pidText);
    const sockets = clientsThatNeverRead(12);
    let peakKiB = 0;
    let page = null;
    const started = Date.now();
    while (elapsed(started) < 8000) {
        peakKiB = Math.max(peakKiB, residentKiB(pid));
        // An ordinary page meanwhile.
        if (page === null && elapsed(started) > 4000) page = await fetch('GET', '/home.krml?name=Ada');
        await sleep(100);
    }
    // A client that reads gets the whole answer once the others have been cut off, each after
    // its answer stalled for a while. Those that come before it are served first, each holding
    // its answer until cut off: on a busy machine that takes many seconds more, so the tries go
    // on for as long as only an answer never given back could take.
    let reader = null;
    const tries = [];
    while (elapsed(started) < 150000) {
        reader = await fetch('GET', '/big.krml');
        tries.push({ at: elapsed(started), status: reader.status, ms: reader.ms, text: (reader.text || reader.error || '').slice(0, 80) });
        if (reader.status === 200) break;
        await sleep(500);
    }
    for (const socket of sockets) socket.destroy();
    return { peakKiB, pageStatus: page.status, readerStatus: reader.status, readerBytes: reader.bytes, tries };
}

// Twelve clients ask for a page with a large answer, never read it and leave; what the server
// holds before, at most meanwhile, and once it has been left alone for a while.
async function unreadAnswersLeave() {
    const pid = Number(pidText);
    await fetch('GET', '/home.krml?name=warm');
    await sleep(1000);
    const beforeKiB = residentKiB(pid);
    const sockets = clientsThatNeverRead(12);
    let peakKiB = 0;
    const started = Date.now();
    while (elapsed(started) < 6000) {
        peakKiB = Math.max(peakKiB, residentKiB(pid));
        await sleep(100);
    }
    for (const socket of sockets) socket.destroy();
    const left = Date.now();
    let laterKiB = residentKiB(pid);
    while (elapsed(left) < 15000 && laterKiB > beforeKiB + 48 * 1024) {
        await sleep(250);
        laterKiB = residentKiB(pid);
    }
    const page = await fetch('GET', '/home.krml?name=Ada');
    return { beforeKiB, peakKiB, laterKiB, laterMs: elapsed(left), pageStatus: page.status };
}

// A POST whose body follows its head a moment later, as an upload's does; resolves with
// {status, ms, text}.
function upload(path, body, bodyAfterMs = 30) {
    const started = Date.now();
    return new Promise((resolve) => {
        let answer = '';
        const socket = net.connect(port, '127.0.0.1', () => {
            socket.write('POST ' + path + ' HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n' +
                'Content-Length: ' + Buffer.byteLength(body) + '\r\n\r\n');
            setTimeout(() => socket.write(body), bodyAfterMs);
        });
        socket.setEncoding('latin1');
        socket.on('data', (chunk) => {
            if (answer.length < 400) answer += chunk.slice(0, 400);
        });
        socket.on('error', () => {});
        socket.on('close', () => {
            const status = /^HTTP\/1\.1 (\d+)/.exec(answer);
            resolve({ status: status ? Number(status[1]) : 0, ms: elapsed(started), text: answer.split('\r\n\r\n')[1] || '' });
        });
    });
}

// Clients that send the bodies of their POSTs a byte a second and, cut off or refused, come
// again at once, for every place a body may take (four of them declare bodies of the largest
// size, which take the whole budget for bodies); meanwhile an ordinary client posts a form to
// the same page ten times, half a second apart, and another uploads ten bodies, each following
// its head, at once or (every second one) 0.4 s later, as from a client kept waiting.
async function reconnectingTricklers() {
    let stop = false;
    let connections = 0;
    const open = new Set();
    const trickle = (declared) => {
        if (stop) return;
        ++connections;
        const socket = net.connect(port, '127.0.0.1', () => {
            socket.write('POST /home.krml HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n' +
                'Content-Length: ' + declared + '\r\n\r\nitem=');
            socket.timer = setInterval(() => socket.write('x'), 1000);
        });
        open.add(socket);
        socket.on('error', () => {});
        socket.on('close', () => {
            clearInterval(socket.timer);
            open.delete(socket);
            setTimeout(() => trickle(declared), 50);
        });
    };
    for (let i = 0; i < 64; ++i) trickle(i % 16 === 0 ? 32 * 1024 * 1024 : 65536);
    await sleep(2000);
    const posts = [];
    const uploads = [];
    await Promise.all([
        (async () => {
            for (let i = 0; i < 10; ++i) {
                posts.push(await fetch('POST', '/home.krml', 'item=tea', { 'Content-Type': 'application/x-www-form-urlencoded' }));
                await sleep(500);
            }
        })(),
        (async () => {
            for (let i = 0; i < 10; ++i) {
                uploads.push(await upload('/home.krml', 'item=' + 'u'.repeat(200000), i % 2 === 0 ? 30 : 400));
                await sleep(300);
            }
        })(),
    ]);
    stop = true;
    for (const socket of open) socket.destroy();
    const refused = (list) => list.filter((p) => p.status !== 200).map((p) => p.status + ' ' + (p.text || p.error || '').trim());
    return { postStatuses: posts.map((p) => p.status), postMaxMs: Math.max(...posts.map((p) => p.ms)), connections,
             uploadStatuses: uploads.map((p) => p.status), uploadMs: uploads.map((p) => p.ms),
             refusals: refused(posts).concat(refused(uploads)) };
}

// A POST whose body of `size` bytes is sent at `bytesPerSecond`; resolves with {status, ms, text}
// once answered, or with status -1 when `stop()` is called first. `stop` is set on the promise.
function steadyUpload(path, size, bytesPerSecond) {
    const started = Date.now();
    let finish;
    const done = new Promise((resolve) => { finish = resolve; });
    let answer = '';
    let sent = 0;
    let timer = null;
    const socket = net.connect(port, '127.0.0.1', () => {
        socket.write('POST ' + path + ' HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n' +
            'Content-Length: ' + size + '\r\n\r\n');
        const step = Math.max(1, Math.round(bytesPerSecond / 10));
        timer = setInterval(() => {
            const part = Math.min(step, size - sent);
            if (part <= 0) return clearInterval(timer);
            socket.write((sent === 0 ? 'data=' : '') + 'u'.repeat(sent === 0 ? part - 5 : part));
            sent += part;
        }, 100);
    });
    socket.setEncoding('latin1');
    socket.on('data', (chunk) => {
        if (answer.length < 400) answer += chunk.slice(0, 400);
    });
    socket.on('error', () => {});
    socket.on('close', () => {
        clearInterval(timer);
        const status = /^HTTP\/1\.1 (\d+)/.exec(answer);
        finish({ status: status ? Number(status[1]) : 0, ms: elapsed(started), text: answer.split('\r\n\r\n')[1] || '' });
    });
    done.stop = () => {
        if (!answer) finish({ status: -1, ms: elapsed(started), text: '' });
        socket.destroy();
    };
    return done;
}

// Bodies that come at a steady, fair rate: a 2 MB one that takes longer than the server once
// allowed a body of its size, two large ones that together with it take the whole budget for
// bodies, and meanwhile a 200 KB upload whose body follows its head at once.
async function fairUploads() {
    const started = Date.now();
    let steadyDoneMs = -1;
    const steady = steadyUpload('/home.krml', 2 * 1024 * 1024, 120 * 1024);
    steady.then(() => { steadyDoneMs = elapsed(started); });
    await sleep(300);
    const large = [steadyUpload('/home.krml', 32 * 1024 * 1024, 100 * 1024),
                   steadyUpload('/home.krml', 30 * 1024 * 1024, 100 * 1024)];
    await sleep(1500);
    const quick = await upload('/home.krml', 'item=' + 'u'.repeat(200000));
    const quickDoneMs = elapsed(started);
    const steadyDone = await steady;
    for (const l of large) l.stop();
    const largeDone = await Promise.all(large);
    return { steadyStatus: steadyDone.status, steadyMs: steadyDone.ms, steadyText: steadyDone.text.trim(),
             steadyDoneMs, quickStatus: quick.status, quickMs: quick.ms, quickDoneMs, quickText: quick.text.trim(),
             largeStatuses: largeDone.map((l) => l.status), largeTexts: largeDone.map((l) => l.text.trim()) };
}

// Eight different pages that never finish are asked for at once, then a page that answers at once;
// when each answer came, counted from the loops' requests.
async function endlessPages() {
    await fetch('GET', '/home.krml?name=warm');
    const started = Date.now();
    const loops = [];
    for (let i = 1; i <= 8; ++i) {
        loops.push(fetch('GET', '/loop' + i + '.krml').then((l) => Object.assign(l, { doneMs: elapsed(started) })));
    }
    await sleep(300);
    const page = await fetch('GET', '/home.krml?name=Ada');
    const pageDoneMs = elapsed(started);
    const ended = await Promise.all(loops);
    return { pageStatus: page.status, pageMs: page.ms, pageDoneMs, loopStatuses: ended.map((l) => l.status),
             loopsDoneMs: ended.map((l) => l.doneMs) };
}

// 64 clients ask for one page at once, as a browser with many tabs might.
async function burst() {
    const answers = await Promise.all(Array.from({ length: 64 }, () => fetch('GET', '/home.krml?name=Ada')));
    return { answered: answers.filter((a) => a.status === 200).length, statuses: answers.map((a) => a.status) };
}

// The script processes of the server: their number and the memory they hold. The process that
// holds their view of the file system is none of them.
function scriptProcesses(pid) {
    let count = 0;
    let residentTotalKiB = 0;
    for (const entry of fs.readdirSync('/proc')) {
        if (!/^\d+$/.test(entry)) continue;
        let stat;
        try {
            stat = fs.readFileSync('/proc/' + entry + '/stat', 'utf8');
        } catch (e) {
            continue;
        }
        const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
        if (Number(fields[1]) !== pid || fields[0] === 'Z') continue;
        try {
            if (fs.readFileSync('/proc/' + entry + '/cmdline', 'utf8').includes('kr-script-view')) continue;
        } catch (e) {
            continue;
        }
        ++count;
        residentTotalKiB += Math.max(0, residentKiB(Number(entry)));
    }
    return { count, residentTotalKiB };
}

// The store is filled, many clients read it at once, and then the server is left alone.
async function fullStoreThenIdle() {
    const pid = Number(pidText);
    for (let i = 0; i < 15; ++i) {
        const fill = await fetch('GET', '/store.krml?fill=' + i);
        if (fill.status !== 200) throw new Error('the store could not be filled: ' + fill.status);
    }
    await Promise.all(Array.from({ length: 32 }, () => fetch('GET', '/store.krml?get=f1')));
    const afterBurst = scriptProcesses(pid);
    const started = Date.now();
    let later = afterBurst;
    while (elapsed(started) < 30000 && later.count > 1) {
        await sleep(500);
        later = scriptProcesses(pid);
    }
    const page = await fetch('GET', '/store.krml?get=f2');
    return { afterBurst, later, laterMs: elapsed(started), pageStatus: page.status };
}

const scenarios = { fullStoreThenIdle, minifyWhileServing, tricklingBodies, unreadAnswers, unreadAnswersLeave,
    reconnectingTricklers, fairUploads, endlessPages, burst };

scenarios[scenario]().then((result) => {
    process.stdout.write(JSON.stringify(result) + '\n');
    process.exit(0);
}, (e) => {
    process.stdout.write(JSON.stringify({ error: String(e && e.stack) }) + '\n');
    process.exit(1);
});
