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

// An answer as {status, value}.
function runJob(job) {
    if (job.tool === 'check') {
        const lint = jshint();
        lint(job.src, jshintOptions(job.options));
        const errors = (lint.errors || []).filter((e) => e !== null && typeof e === 'object');
        return { status: 200, value: { errors } };
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

if (!isMainThread) {
    // Loaded at the worker's start, while the server waits for its first job: a build's
    // first request does not wait for the tools to load.
    // A small script through each, for the same reason: their code is compiled by then.
    try {
        runJob({ tool: 'check', src: 'var a = function (b) {\n    return b + 1;\n};\n', options: {} });
        runJob({ tool: 'minify', src: 'var a = function (b) {\n    if (b) { return b + 1; }\n    return [b, "c"];\n};\n' });
    } catch (e) {
        // The first job tells.
    }
    parentPort.on('message', (job) => {
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
    run(tool, src, options) {
        if (src.length > MAX_SOURCE_CHARS) {
            return Promise.reject(new ToolRefusal(413, 'The script is too large to ' +
                (tool === 'check' ? 'check' : 'minify') + ': ' + src.length + ' characters, at most ' +
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
            resourceLimits: { maxOldGenerationSizeMb: WORKER_HEAP_MB },
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
            this.log('The ' + name + ' of a script of ' + job.src.length + ' characters took longer than ' +
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
                this.log('The ' + name + ' of a script of ' + job.src.length + ' characters failed: ' + message);
                entry.resolve({ status: 500, text: JSON.stringify({ error: 'The ' + name + ' failed: ' + message }) });
                this.startWaiting();
            },
        };
        worker.postMessage(job);
    }
}

module.exports = { ServerTools, ToolRefusal };
