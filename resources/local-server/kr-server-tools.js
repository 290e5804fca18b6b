'use strict';
// The syntax check (jshint) and the minifier (uglify-js) of the local runtime server, run in
// worker threads so that a large script never holds up the thread that serves files and pages
// (nor the reading of the parent's "alive" lines, which would end the server).
//
// A few workers (one for every two processors this process may use, at least one, at most
// four) run jobs one at a time each; further jobs wait in a queue of bounded length and are
// refused (503) past it. Workers start when jobs come, never ahead of them, and end when they
// have had nothing to do for a while. A job that outlives its time limit has its worker
// terminated (a fresh one takes its place); a worker is also bounded in heap. Loaded in the
// server it exports ServerTools; started as a worker it runs the jobs it is sent.

const { Worker, isMainThread, parentPort } = require('worker_threads');
const fs = require('fs');
const os = require('os');

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
// Workers are started when jobs come and end when they have had nothing to do for a while:
// the last one after LAST_WORKER_IDLE_MS (so that the builds of an editing session find it
// ready), the others after WORKER_IDLE_MS.
const WORKER_IDLE_MS = 10000;
const LAST_WORKER_IDLE_MS = 60000;

// ---------------------------------------------------------------- processors

// The processors this process may run on: those its CPU affinity allows (os.cpus() counts
// every processor of the machine), at most as many as its control group's CPU quota pays for.
// `read(path)` returns a file's text or throws (for tests: a machine of their own).
function usableProcessors(read) {
    const readText = read || ((file) => fs.readFileSync(file, 'utf8'));
    let count = 0;
    if (!read && typeof os.availableParallelism === 'function') {
        count = os.availableParallelism(); // the affinity, with this node
    }
    const allowed = allowedProcessors(readText);
    if (allowed > 0 && (count === 0 || allowed < count)) count = allowed;
    if (count <= 0) count = read ? 1 : Math.max(1, os.cpus().length);
    const quota = cpuQuota(readText);
    if (quota > 0) count = Math.min(count, Math.max(1, Math.ceil(quota - 0.01)));
    return count;
}

// The processors of "Cpus_allowed_list" ("0-3,6"), or 0 when unknown.
function allowedProcessors(read) {
    let status;
    try {
        status = read('/proc/self/status');
    } catch (e) {
        return 0;
    }
    const match = /^Cpus_allowed_list:\s*([0-9,\- ]+)$/m.exec(status);
    if (!match) return 0;
    let count = 0;
    for (const part of match[1].trim().split(',')) {
        const range = /^(\d+)(?:-(\d+))?$/.exec(part.trim());
        if (!range) return 0;
        const first = Number(range[1]);
        const last = range[2] === undefined ? first : Number(range[2]);
        if (last < first || last - first > 65535) return 0;
        count += last - first + 1;
    }
    return count;
}

// The CPU quota of this process's control groups (cgroup v2 "cpu.max", v1 "cpu.cfs_quota_us"
// over "cpu.cfs_period_us"), the smallest along the path to the root, in processors; 0 when
// there is none.
function cpuQuota(read) {
    let groups;
    try {
        groups = read('/proc/self/cgroup');
    } catch (e) {
        return 0;
    }
    let quota = 0;
    const consider = (value) => {
        if (Number.isFinite(value) && value > 0 && (quota === 0 || value < quota)) quota = value;
    };
    for (const line of groups.split('\n')) {
        const match = /^\d+:([^:]*):(\/.*)$/.exec(line.trim());
        if (!match) continue;
        const controllers = match[1].split(',');
        const v2 = match[1] === '';
        if (!v2 && !controllers.includes('cpu')) continue;
        const folders = v2 ? ['/sys/fs/cgroup'] : ['/sys/fs/cgroup/' + match[1], '/sys/fs/cgroup/cpu', '/sys/fs/cgroup/cpu,cpuacct'];
        // A group path that names ".." is nobody's business here.
        const segments = match[2].split('/').filter((s) => s !== '');
        if (segments.some((s) => s === '..' || s === '.')) continue;
        for (let depth = segments.length; depth >= 0; --depth) {
            const relative = segments.slice(0, depth).map((s) => '/' + s).join('');
            for (const folder of folders) {
                try {
                    if (v2) {
                        const [max, period] = read(folder + relative + '/cpu.max').trim().split(/\s+/);
                        if (max !== 'max') consider(Number(max) / Number(period || 100000));
                    } else {
                        const limit = Number(read(folder + relative + '/cpu.cfs_quota_us').trim());
                        const period = Number(read(folder + relative + '/cpu.cfs_period_us').trim());
                        if (limit > 0 && period > 0) consider(limit / period);
                    }
                    break; // this folder holds the group
                } catch (e) {
                    // not this folder
                }
            }
        }
    }
    return quota;
}

// Workers running at once for `processors` usable processors. A worker that has just started
// runs its tools slowly at first, and their compilation and garbage collection take about
// another processor beside it meanwhile; each worker pays for that on its own. On two or three
// processors a second worker therefore made a project's first build slower and cost half as
// much processor time again, so a worker is started for every two processors only.
function workerCount(processors) {
    return Math.max(1, Math.min(4, Math.floor(processors / 2)));
}

const MAX_WORKERS = isMainThread ? workerCount(usableProcessors()) : 0;

// ---------------------------------------------------------------- the worker's side

// The minifier's options: names mangled and blanks removed, the statements themselves left as
// written. Rewriting them (joining statements into sequences, turning conditions into
// expressions, ...) took some 40 % of the minifier's time and shortened a built script by less
// than half a percent.
const MINIFY_OPTIONS = Object.freeze({
    module: false,
    compress: false,
});

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
    const result = require('uglify-js').minify(job.src, MINIFY_OPTIONS);
    if (result.error) {
        const e = result.error;
        return { status: 422, value: { error: 'Unable to minify: ' + e.message, line: e.line, col: e.col } };
    }
    return { status: 200, value: { src: result.code } };
}

if (!isMainThread) {
    // Each tool is loaded by the first job that needs it: a worker that only checks never
    // loads the minifier.
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
    // `options`: {maxWorkers, idleMs, lastIdleMs} in place of the defaults (for tests).
    constructor(log, options) {
        const given = options || {};
        this.log = log;
        this.maxWorkers = given.maxWorkers || MAX_WORKERS;
        this.idleMs = given.idleMs || WORKER_IDLE_MS;
        this.lastIdleMs = given.lastIdleMs || LAST_WORKER_IDLE_MS;
        this.idle = [];
        this.busy = 0;
        this.queue = [];
        this.retireTimer = null;
        // No worker starts before a job needs it: a server that only serves files and pages
        // (as the device viewer's) never starts one, and the start of the application does not
        // share the processors with tools nobody asked for yet.
    }

    // Workers running now, busy or idle.
    workerCount() {
        return this.busy + this.idle.length;
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
        while (this.queue.length > 0 && this.busy < this.maxWorkers) {
            const entry = this.queue.shift();
            ++this.busy;
            this.runInWorker(this.takeWorker(), entry);
        }
    }

    // The worker that finished last (its tools are loaded and compiled), or a new one.
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
        worker.idleSince = Date.now();
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

    // An idle worker ends once it has waited long enough for a job; the one that finished
    // last waits longest.
    scheduleRetirement() {
        clearTimeout(this.retireTimer);
        this.retireTimer = null;
        if (this.idle.length === 0) return;
        const now = Date.now();
        let due = Infinity;
        this.idle.forEach((worker, index) => {
            const limit = index === this.idle.length - 1 ? this.lastIdleMs : this.idleMs;
            due = Math.min(due, worker.idleSince + limit - now);
        });
        this.retireTimer = setTimeout(() => {
            this.retireTimer = null;
            this.retireIdleWorkers();
        }, Math.max(0, due) + 10);
        this.retireTimer.unref();
    }

    retireIdleWorkers() {
        const now = Date.now();
        const last = this.idle[this.idle.length - 1];
        for (const worker of this.idle.slice()) {
            const limit = worker === last ? this.lastIdleMs : this.idleMs;
            if (now - worker.idleSince >= limit) {
                this.idle.splice(this.idle.indexOf(worker), 1);
                worker.gone = true;
                worker.terminate();
            }
        }
        this.scheduleRetirement();
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
            // "timedOut": the application tells a check that ran out of time from a server that
            // cannot take the job.
            entry.resolve({ status: 503, text: JSON.stringify({ error: 'The ' + name + ' took longer than ' +
                limit / 1000 + ' s and was stopped', timedOut: true }) });
            this.startWaiting();
        }, limit);
        worker.current = {
            done: (answer) => {
                if (!finish()) return;
                worker.idleSince = Date.now();
                this.idle.push(worker);
                entry.resolve(answer);
                this.startWaiting();
                this.scheduleRetirement();
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

module.exports = { ServerTools, ToolRefusal, usableProcessors, workerCount };
