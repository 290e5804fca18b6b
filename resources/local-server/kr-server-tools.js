'use strict';
// The syntax check (jshint) and the minifier (uglify-js) of the local runtime server, run in
// worker threads so that a large script never holds up the thread that serves files and pages
// (nor the reading of the parent's "alive" lines, which would end the server).
//
// A few workers run jobs one at a time each; further jobs wait in a queue of bounded length
// and are refused (503) past it. A job that outlives its time limit has its worker terminated
// (a fresh one takes its place); a worker is also bounded in heap. Loaded in the server it
// exports ServerTools; started as a worker it runs the jobs it is sent.

const { Worker, isMainThread, parentPort } = require('worker_threads');

// Workers running at once (a build sends its functions and pages a few at a time; one core is
// left to the server and the application), and jobs that may wait for one.
const MAX_WORKERS = Math.max(2, Math.min(4, require('os').cpus().length - 1));
const MAX_WAITING_JOBS = 32;
// A job's time limit; the application gives up on a check after 20 s and on a minification
// after 60 s, so there is no point going on beyond that.
const CHECK_TIMEOUT_MS = 20000;
const MINIFY_TIMEOUT_MS = 60000;
// The largest script either tool takes, in characters.
const MAX_SOURCE_CHARS = 16 * 1024 * 1024;
const WORKER_HEAP_MB = 1536;
// The young generation of a worker's heap: left to grow to its default, the minifier's
// garbage kept some 25 MB more per worker resident for no gain in speed.
const WORKER_YOUNG_HEAP_MB = 12;
// How often a starting worker runs each tool on a page's script before its first job.
const WARM_UP_ROUNDS = 5;

// ---------------------------------------------------------------- the worker's side

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

function findings(src, options) {
    const lint = jshint();
    lint(src, jshintOptions(options));
    return (lint.errors || []).filter((e) => e !== null && typeof e === 'object');
}

// An answer as {status, value}. A check of a list of scripts checks each on its own, as though
// it had been sent alone, and answers for each: its findings, or the error that stopped its
// check (the others are checked all the same).
function runJob(job) {
    if (job.tool === 'check' && Array.isArray(job.src)) {
        const results = job.src.map((src) => {
            try {
                return { errors: findings(src, job.options) };
            } catch (e) {
                return { error: 'The syntax check failed: ' + String(e && e.message) };
            }
        });
        return { status: 200, value: { results } };
    }
    if (job.tool === 'check') {
        return { status: 200, value: { errors: findings(job.src, job.options) } };
    }
    // The built script is a plain script of the language level it was written in: read as a
    // module (uglify-js's default) it would be taken as strict code and rewritten with
    // ES2015 syntax (arrow functions) that an unminified build never has.
    const result = require('uglify-js').minify(job.src, { module: false });
    if (result.error) {
        const e = result.error;
        return { status: 422, value: { error: 'Unable to minify: ' + e.message, line: e.line, col: e.col } };
    }
    return { status: 200, value: { src: result.code } };
}

// A page's part of a built script, of the kind the builder writes (event functions, then the
// page's objects made and wired up), to run the tools on while the worker waits for its first
// job.
function warmUpScript() {
    let text = 'application._pages.warm = new KRPage("warm");\n(function(p) {\np._pageURL = "warm.html";\n';
    for (let f = 0; f < 8; ++f) {
        text += 'application._pages.warm._events.f' + f + ' = function(event) {\n\n' +
            '\tvar x = "' + f + '", list = [1, 2, {a: x}];\n' +
            '\tfor (var i = 0; i < list.length; i++) {\n\t\tif (typeof list[i] === "number" && x.length > 3) {\n' +
            '\t\t\tx = x + "!" + list[i];\n\t\t} else {\n\t\t\tx = $(this).val() || x;\n\t\t}\n\t}\n' +
            '\treturn x ? application.show(x) : null;\n\n};\n';
    }
    text += "$(document).off('_kr_pagechange', '#warm').on('_kr_pagechange', '#warm', function() {\n" +
        'p._load(function(o) {\n';
    for (let c = 0; c < 32; ++c) {
        text += 'o.c' + c + ' = new KRLabel("warm_c' + c + '");\no.c' + c + '.top = "' + c * 48 + '";\n' +
            'o.c' + c + '.left = "4";\no.c' + c + '.onClick = application._pages.warm._events.f' + c % 8 + ';\n';
    }
    return text + '});\n});\n})(application._pages.warm);\n';
}

if (!isMainThread) {
    // Loaded at the worker's start, while the server waits for its first job: a build's
    // first request does not wait for the tools to load. Then a page's script goes through
    // each tool a few times, so that their code is compiled and optimized before the first
    // build needs it (run cold, they take about twice as long). A job that comes meanwhile
    // goes first: the warming up stops.
    let warming = true;
    const warmUp = (rounds) => {
        if (!warming || rounds === 0) return;
        try {
            const script = warmUpScript();
            for (const event of script.split(/^(?=application\._pages\.warm\._events)/m).slice(1)) {
                findings('//\n' + event.slice(0, event.indexOf('\n};\n') + 4), { curly: true, indent: 1 });
            }
            runJob({ tool: 'minify', src: script });
        } catch (e) {
            return; // the first job tells
        }
        setImmediate(() => warmUp(rounds - 1));
    };
    try {
        jshint();
        require('uglify-js');
    } catch (e) {
        warming = false;
    }
    setImmediate(() => warmUp(WARM_UP_ROUNDS));
    parentPort.on('message', (job) => {
        warming = false;
        let answer;
        try {
            answer = runJob(job);
        } catch (e) {
            answer = { status: 500, value: { error: 'The ' + (job.tool === 'check' ? 'syntax check' : 'minifier') +
                ' failed: ' + String(e && e.message) } };
        }
        // The answer goes as text: one string is cheaper to pass than a tree of findings.
        parentPort.postMessage({ status: answer.status, text: JSON.stringify(answer.value) });
    });
}

// ---------------------------------------------------------------- the server's side

function sourceCharacters(src) {
    return Array.isArray(src) ? src.reduce((sum, text) => sum + text.length, 0) : src.length;
}

// What a job answers when it is not run: `status` (413 or 503) and the message.
class ToolRefusal extends Error {
    constructor(status, message) {
        super(message);
        this.status = status;
    }
}

class ServerTools {
    constructor(log) {
        this.log = log;
        this.idle = [];
        this.busy = 0;
        this.queue = [];
        // The workers start ahead of the first job and load the tools meanwhile, so that the
        // first build after the start does not wait for them.
        setImmediate(() => {
            while (this.idle.length + this.busy < MAX_WORKERS) this.idle.push(this.makeWorker());
        });
    }

    // Resolves with {status, text} (text: the JSON of the answer) or rejects with a ToolRefusal.
    // `tool`: "check" or "minify".
    // `src`: a script, or for a check a list of scripts (checked each on its own, in one job).
    run(tool, src, options) {
        const characters = sourceCharacters(src);
        if (characters > MAX_SOURCE_CHARS) {
            return Promise.reject(new ToolRefusal(413, 'The script is too large to ' +
                (tool === 'check' ? 'check' : 'minify') + ': ' + characters + ' characters, at most ' +
                MAX_SOURCE_CHARS));
        }
        if (this.queue.length >= MAX_WAITING_JOBS) {
            return Promise.reject(new ToolRefusal(503, 'Server busy: too many scripts are waiting to be checked or minified'));
        }
        return new Promise((resolve, reject) => {
            this.queue.push({ job: { tool, src, options }, resolve, reject });
            this.startWaiting();
        });
    }

    startWaiting() {
        while (this.queue.length > 0 && this.busy < MAX_WORKERS) {
            const entry = this.queue.shift();
            ++this.busy;
            this.runInWorker(this.takeWorker(), entry);
        }
    }

    takeWorker() {
        while (this.idle.length > 0) {
            const worker = this.idle.pop();
            if (!worker.gone) return worker;
        }
        return this.makeWorker();
    }

    makeWorker() {
        const worker = new Worker(__filename, {
            resourceLimits: { maxOldGenerationSizeMb: WORKER_HEAP_MB, maxYoungGenerationSizeMb: WORKER_YOUNG_HEAP_MB },
            stdout: true,
            stderr: true,
        });
        worker.gone = false;
        worker.unref();
        worker.on('error', (e) => {
            worker.gone = true;
            if (worker.current) worker.current.fail('the worker failed: ' + String(e && e.message));
        });
        worker.on('exit', () => {
            worker.gone = true;
            if (worker.current) worker.current.fail('the worker ended');
            const index = this.idle.indexOf(worker);
            if (index >= 0) this.idle.splice(index, 1);
        });
        worker.on('message', (answer) => {
            if (worker.current) worker.current.done(answer);
        });
        return worker;
    }

    runInWorker(worker, entry) {
        const { job } = entry;
        const name = job.tool === 'check' ? 'syntax check' : 'minification';
        const limit = job.tool === 'check' ? CHECK_TIMEOUT_MS : MINIFY_TIMEOUT_MS;
        let finished = false;
        const finish = () => {
            if (finished) return false;
            finished = true;
            clearTimeout(timer);
            worker.current = null;
            --this.busy;
            return true;
        };
        const timer = setTimeout(() => {
            if (!finish()) return;
            worker.gone = true;
            worker.terminate();
            this.log('The ' + name + ' of a script of ' + sourceCharacters(job.src) + ' characters took longer than ' +
                limit / 1000 + ' s and was stopped');
            entry.resolve({ status: 503, text: JSON.stringify({ error: 'The ' + name + ' took longer than ' +
                limit / 1000 + ' s and was stopped' }) });
            this.startWaiting();
        }, limit);
        worker.current = {
            done: (answer) => {
                if (!finish()) return;
                this.idle.push(worker);
                entry.resolve(answer);
                this.startWaiting();
            },
            fail: (message) => {
                if (!finish()) return;
                this.log('The ' + name + ' of a script of ' + sourceCharacters(job.src) + ' characters failed: ' + message);
                entry.resolve({ status: 500, text: JSON.stringify({ error: 'The ' + name + ' failed: ' + message }) });
                this.startWaiting();
            },
        };
        worker.postMessage(job);
    }
}

module.exports = { ServerTools, ToolRefusal };
