'use strict';
// Server page scripts for the local runtime server: the processes that run them, the order in
// which requests get to run, and what a request may hold while it waits.
//
// Scripts run in node processes of their own (kr-server-page-sandbox.js), with node's
// permission model on and nothing granted: no file system, no child processes, no workers, an
// empty environment and a bounded heap; where the system allows, in namespaces of their own as
// well, seeing of the file system only a read-only view that they cannot lift (no network, no
// other process to signal, no file to write). A process is killed when its request has used the
// processor for longer than the time limit (a runaway script), when it has run far longer than
// that in all (a script that waits for nothing), or when it grows past the memory limit, whatever
// it is doing; the server never runs a line of a page's script, so it stays responsive. A script
// that is only kept waiting for a processor, on a busy machine, is no runaway. A small pool of
// such processes serves the requests, one at a time each, every request in a fresh context; a
// process is replaced after a number of requests.
//
// Requests wait in one queue of bounded length, and so does the memory their bodies hold: a
// body is read only once it fits in the budget (a small one at once), and it is held until its
// script has run. A request takes its place in the queue only once its body has arrived, so
// clients that send their bodies slowly hold no place of the others; a body that came with its
// request's head takes no place among the bodies on their way either. A page may run in all processes but one at
// once, in one only while its last request failed the hard way (timed out, ran out of memory,
// crashed), and after a few such failures in a row it is paused for a while: its requests are
// refused with 503 and a Retry-After. A free process goes to the waiting page that runs the
// fewest scripts, and one more process than the pool serves only pages whose last request ran
// quickly: nothing that one page (or a few slow ones) does can take every process from the
// others. The answers held for clients are bounded together as well; idle processes beyond
// one end after a while, with the stored items they hold.

const childProcess = require('child_process');
const fs = require('fs');
const path = require('path');
const storage = require('./kr-server-storage.js');

// The processor time a request's script process may use, and how long the request may run in
// all: a script blocked on nothing (Atomics.wait) uses no processor time. The time the script was
// kept waiting for a processor (on a busy machine) does not count against the second limit.
const SCRIPT_TIMEOUT_MS = 5000;
const SCRIPT_RUN_LIMIT_MS = 12 * SCRIPT_TIMEOUT_MS;
// A script process's processor time (and its wait for a processor) is read from /proc, which
// costs the server about a tenth of what a quick page costs it: it is read only where it can
// matter. A request's use is counted from its process's as read last, which is read again before
// a request once the process's requests have run PROCESSOR_READ_AFTER_MS on the clock since: a
// request is charged at most about that much of what ran before it, never less than it used. A
// request is looked at once it has run PROCESSOR_WATCH_AFTER_MS on the clock: by then the
// process's threads together (the script's and the engine's four helpers) cannot have used its
// limit. Its processor time is read at its end only when it ran at least PROCESSOR_READ_AFTER_MS:
// a request shorter than that on the clock is quick (see QUICK_RUN_MS) whatever its threads did.
const PROCESSOR_READ_AFTER_MS = 100;
const PROCESSOR_WATCH_AFTER_MS = SCRIPT_TIMEOUT_MS / 10;
const SCRIPT_HEAP_MB = 256;
const SCRIPT_MEMORY_BYTES = 384 * 1024 * 1024;
// The text of a page's answer, in bytes.
const MAX_ANSWER_BYTES = 64 * 1024 * 1024;
// A request's body, in bytes.
const MAX_BODY_BYTES = 32 * 1024 * 1024;
// What the script's console may print for one request.
const MAX_LOG_LINES = 1000;
const MAX_LOG_CHARS = 1024 * 1024;
// The line that comes before an answer's text: status, headers, console lines and storage
// changes, each bounded above; as JSON a character takes at most six bytes.
const MAX_OUTCOME_LINE_BYTES = 6 * (storage.STORE_LIMIT + MAX_LOG_CHARS) + 1024 * 1024;

const MAX_RUNNING_SCRIPTS = 4;
// One process is always left for the other pages.
const MAX_RUNNING_PER_PAGE = MAX_RUNNING_SCRIPTS - 1;
// Requests admitted but not running yet, in all and for one page: a browser may ask for a
// page many times at once.
const MAX_WAITING = 512;
const MAX_WAITING_PER_PAGE = 256;
// Requests whose body is awaited or being read, in all and for one page.
const MAX_BODIES = 64;
const MAX_BODIES_PER_PAGE = 16;
// While those places are all taken and some of the bodies in them come slowly, a request that
// finds no place waits a little to be judged by how its own body comes: a body that comes at
// least this fast (or has come whole) takes the place of the slowest body that has had its
// trial and came slower; a body as slow as those is refused. A place so freed goes to the body
// that earned it, never to whoever asks next, so clients that trickle their bodies and come
// again at once cannot keep an ordinary upload out.
const BODY_FAIR_BYTES_PER_SECOND = 64 * 1024;
// How long a body has before it is judged: one that has just been given a place is not
// yet slow, and a request that has just come is given a moment to send its body.
const BODY_TRIAL_MS = 1000;
const ARRIVAL_LOOK_MS = 100;
// A request that earned a place waits at most this long for a slow body's trial to end, and one
// of whose body nothing has come yet (its client may send it a moment after the head, later on
// a busy machine) this long for its first bytes.
const ARRIVAL_WAIT_MS = 2 * BODY_TRIAL_MS;
// One process more than the pool, for pages whose last request took at most this much processor
// time.
const QUICK_RUN_MS = 500;
const QUICK_PAGES_REMEMBERED = 256;
// The answers of server pages held until their clients have read them, together; an answer
// this small is always kept (requests are bounded in number), so that ordinary pages go on
// answering while large answers wait for their clients.
const ANSWER_BUDGET_BYTES = 2 * MAX_ANSWER_BYTES;
const SMALL_ANSWER_BYTES = 64 * 1024;
// Idle processes beyond one end after this long.
const IDLE_PROCESS_MS = 10000;
// The bodies of admitted requests, together; at least one body of the largest size fits. A
// body this small always has room at once (bodies are bounded in number), so that forms and
// small uploads go on while large bodies fill the budget. A body waits at most
// BODY_ROOM_WAIT_MS for room and is then refused with 503: its client is not to blame.
const BODY_BUDGET_BYTES = 2 * MAX_BODY_BYTES;
const SMALL_BODY_BYTES = 256 * 1024;
const BODY_ROOM_WAIT_MS = 30000;
// Failures in a row after which a page is paused, and for how long.
const FAILURES_BEFORE_PAUSE = 3;
const FIRST_PAUSE_MS = 10000;
const LONGEST_PAUSE_MS = 60000;
// Requests one process serves before it is replaced.
const SANDBOX_REQUESTS = 100;

const NO_BYTES = Buffer.alloc(0);

// The walls around a script process beyond node's own: where the system lets a user make
// namespaces of their own, the process runs in network, process-id, host-name and IPC
// namespaces of its own (no network at all, its pipes are all it has; it sees, and can send
// signals to, no process but itself) and sees of the file system only a view of its server's:
// a root that holds only what node needs (the system's programs, libraries and settings, and a
// few devices) and the site as its working folder, all of it read-only; no home folder, no /tmp
// or /run, so no X server socket and no session bus.
//
// The view is made once for the server, by SCRIPT_VIEW run in a user and mount namespace of
// their own (util-linux's unshare makes them), and its shell holds it for as long as the
// server runs; each script process enters it (nsenter), makes its other namespaces (unshare,
// which ends it when it ends itself) and gives up every capability for good (setpriv) before
// node starts: it is root of the view's user namespace without a capability to use, so it
// cannot remount anything of its view, nor mount anything. Where the server itself runs as root
// the view is made without a user namespace (root may mount), and each script process becomes
// the system's unprivileged user, so that it holds the rights of nobody's files: as root without
// a capability it would still be the owner of the system's own files (the password hashes
// among them). Where the view is refused the other
// namespaces are used alone, and where those are refused too, none; the run log says so once,
// with the refusing program's reason. A script never runs as root, though: where the server runs
// as root and its scripts cannot be made another user (no setpriv, or the system refuses the
// change), server pages do not run at all, and each answers with the reason (said once in the
// run log as well).
const UNSHARE_PROGRAMS = ['/usr/bin/unshare', '/bin/unshare'];
const NSENTER_PROGRAMS = ['/usr/bin/nsenter', '/bin/nsenter'];
const SETPRIV_PROGRAMS = ['/usr/bin/setpriv', '/bin/setpriv'];
const SHELL_PROGRAMS = ['/bin/sh', '/usr/bin/sh'];
const QUICK_PROGRAMS = ['/usr/bin/true', '/bin/true'];
// A script process's namespaces of its own, beside its view.
const PROCESS_ARGUMENTS = ['--net', '--pid', '--uts', '--ipc', '--fork', '--kill-child'];
// Without a view.
const UNSHARE_ARGUMENTS = ['--user'].concat(PROCESS_ARGUMENTS);
// The view's holder, in a process-id namespace of its own so that it may mount a /proc.
const VIEW_ARGUMENTS = ['--user', '--map-root-user', '--mount', '--pid', '--fork', '--kill-child'];
// The same, made by root.
const ROOT_VIEW_ARGUMENTS = ['--mount', '--pid', '--fork', '--kill-child'];
// No capability left, and none to be had again by running a program.
const SETPRIV_ARGUMENTS = ['--no-new-privs', '--inh-caps=-all', '--ambient-caps=-all', '--bounding-set=-all'];
// And no user's rights, where the server runs as root: the system's unprivileged user and group.
// Changing the user clears the signal that ends the process with its parent (unshare): it is kept.
const UNPRIVILEGED_ARGUMENTS = ['--reuid=65534', '--regid=65534', '--clear-groups', '--pdeathsig', 'keep'];
// How long the view may take to be made.
const VIEW_TIMEOUT_MS = 10000;
// Its words: the path of the program its processes run. The new root is a small file system
// mounted over /tmp, which hides /tmp itself; the site and node's folder are reached through
// the working folder and a descriptor, which stay valid when their paths are hidden. It says
// "ready" (and "proc" when the view has a /proc, over which each process mounts its own) and
// holds the view until its input ends.
const SCRIPT_VIEW = [
    'set -e',
    'umask 022',
    'PATH=/usr/sbin:/usr/bin:/sbin:/bin',
    'site=$(pwd -P)',
    'program=$(readlink -f "$1")',
    'program_dir=${program%/*}',
    'exec 3<"$program_dir"',
    'mount -t tmpfs -o mode=0755,size=1m kr-script-view /tmp',
    'for d in usr bin sbin lib lib32 lib64 libx32 etc; do',
    '  if [ -L "/$d" ]; then ln -s "$(readlink "/$d")" "/tmp/$d"',
    '  elif [ -d "/$d" ]; then mkdir "/tmp/$d"; mount --rbind "/$d" "/tmp/$d"; mount -o remount,bind,ro "/tmp/$d"; fi',
    'done',
    'case "$program_dir" in',
    '  /usr/*|/bin|/bin/*|/sbin|/sbin/*|/lib*) ;;',
    '  *) mkdir -p "/tmp$program_dir"; mount --no-canonicalize --bind /proc/self/fd/3 "/tmp$program_dir";',
    '     mount -o remount,bind,ro "/tmp$program_dir" ;;',
    'esac',
    'exec 3<&-',
    'mkdir /tmp/dev',
    'for n in null zero full random urandom; do touch "/tmp/dev/$n"; mount --bind "/dev/$n" "/tmp/dev/$n"; done',
    'mkdir /tmp/proc',
    'proc=',
    'if mount -t proc -o nosuid,nodev,noexec proc /tmp/proc 2>/dev/null; then proc=" proc"; else rmdir /tmp/proc; fi',
    'mkdir -p "/tmp$site"',
    'mount --no-canonicalize --bind . "/tmp$site"',
    'mount -o remount,bind,ro "/tmp$site"',
    'mkdir /tmp/.old',
    'cd /tmp',
    'pivot_root . .old',
    'cd /',
    'umount -l /.old',
    'rmdir /.old',
    'mount -o remount,bind,ro /',
    'cd "$site"',
    'echo "ready$proc"',
    'while read -r _; do :; done',
].join('\n');

function firstExisting(files) {
    return files.find((file) => fs.existsSync(file)) || '';
}

// Why `program` refused: the first line it wrote, or else how it ended.
function refusalReason(program, said, error, status, signal) {
    const line = String(said || '').trim().split('\n')[0].trim();
    if (line) return line;
    const name = path.basename(program);
    if (error) return name + ': ' + (error.message || String(error));
    return signal ? name + ' was ended by signal ' + signal : name + ' ended with exit status ' + status;
}

// The walls of one server's script processes (see above): `words` go before node's command
// ([] where there are none), null until they are known. The first time they are asked for,
// the view is made while the caller waits; `known()` is called once they are, and again
// whenever they are known anew (the view's holder ended and another was made).
class ScriptWalls {
    // `cwd`: the site; `log(text)`: the run log.
    constructor(cwd, log, known) {
        this.cwd = cwd;
        this.log = log;
        this.known = known;
        this.words = null;
        this.making = false;
        this.holder = null;
        this.noted = false;
        // Whether the first word starts the script process as a child of its own (see
        // scriptProcess), and, where server pages may not run, why (then words are []).
        this.forks = false;
        this.refusal = '';
    }

    // Starts finding the words out, unless that is under way or done.
    make() {
        if (this.words !== null || this.making) return;
        this.making = true;
        this.asRoot = typeof process.getuid === 'function' && process.getuid() === 0;
        this.setpriv = firstExisting(SETPRIV_PROGRAMS);
        if (this.asRoot && !this.setpriv) {
            this.refuse('this system has no setpriv program to run them as another user');
            return;
        }
        const unshare = firstExisting(UNSHARE_PROGRAMS);
        if (!unshare) {
            if (this.asRoot) {
                this.asAnotherUser('', 'this system has no unshare program');
                return;
            }
            this.settle([], 'Server page scripts run without namespaces of their own: this system has no unshare ' +
                'program. Node keeps them from files, other programs and workers, but not from the network.');
            return;
        }
        const programs = { shell: SHELL_PROGRAMS, nsenter: NSENTER_PROGRAMS, setpriv: SETPRIV_PROGRAMS };
        for (const name of Object.keys(programs)) {
            programs[name] = firstExisting(programs[name]);
            if (!programs[name]) {
                this.withoutView(unshare, 'this system has no ' + name + ' program');
                return;
            }
        }
        this.makeView(unshare, programs);
    }

    makeView(unshare, { shell, nsenter, setpriv }) {
        const asRoot = typeof process.getuid === 'function' && process.getuid() === 0;
        const holder = childProcess.spawn(unshare, (asRoot ? ROOT_VIEW_ARGUMENTS : VIEW_ARGUMENTS)
            .concat([shell, '-c', SCRIPT_VIEW, 'kr-script-view', process.execPath]), {
            cwd: this.cwd,
            env: {},
            stdio: ['pipe', 'pipe', 'pipe'],
        });
        this.holder = holder;
        let said = '';
        let errorText = '';
        let failure = null;
        let settled = false;
        const timer = setTimeout(() => {
            failure = 'the view was not made within ' + VIEW_TIMEOUT_MS / 1000 + ' s';
            holder.kill('SIGKILL');
        }, VIEW_TIMEOUT_MS);
        holder.stdin.on('error', () => {});
        holder.stderr.on('data', (chunk) => {
            if (errorText.length < 4096) errorText += chunk.toString('utf8');
        });
        holder.on('error', (error) => {
            failure = failure || refusalReason(unshare, '', error);
        });
        holder.stdout.on('data', (chunk) => {
            said += chunk.toString('utf8');
            if (settled || !said.includes('\n')) return;
            settled = true;
            clearTimeout(timer);
            if (!said.startsWith('ready')) {
                holder.kill('SIGKILL');
                this.withoutView(unshare, said.trim().split('\n')[0]);
                return;
            }
            // The shell that holds the view: its root and working folder are the view's.
            const target = childOf(holder.pid);
            if (!target) {
                holder.kill('SIGKILL');
                this.withoutView(unshare, 'the process holding the view was not found');
                return;
            }
            const words = [nsenter, '--target', String(target)]
                .concat(asRoot ? ['--mount'] : ['--user', '--mount', '--preserve-credentials'],
                        ['--root', '--wd', unshare, '--mount'],
                        said.startsWith('ready proc') ? ['--mount-proc'] : [], PROCESS_ARGUMENTS, [setpriv],
                        SETPRIV_ARGUMENTS, asRoot ? UNPRIVILEGED_ARGUMENTS : []);
            this.tryView(holder, unshare, words);
        });
        holder.on('close', (code, signal) => {
            clearTimeout(timer);
            if (this.holder === holder) this.holder = null;
            if (settled) {
                // Its processes keep their view; new ones need another.
                if (this.words !== null && this.words[0] === nsenter) {
                    this.words = null;
                    this.making = false;
                }
                return;
            }
            settled = true;
            this.withoutView(unshare, failure || refusalReason(unshare, errorText, null, code, signal));
        });
    }

    // Runs a quick program through `words`: they are the walls when it runs.
    tryView(holder, unshare, words) {
        const quick = firstExisting(QUICK_PROGRAMS);
        const probe = childProcess.spawn(words[0], words.slice(1).concat(quick ? [quick] : [process.execPath, '-e', '']), {
            cwd: this.cwd,
            env: {},
            stdio: ['ignore', 'ignore', 'pipe'],
        });
        let errorText = '';
        let failure = null;
        probe.stderr.on('data', (chunk) => {
            if (errorText.length < 4096) errorText += chunk.toString('utf8');
        });
        probe.on('error', (error) => {
            failure = failure || refusalReason(words[0], '', error);
        });
        probe.on('close', (code, signal) => {
            if (code === 0 && !failure && this.holder === holder) {
                this.settle(words, '');
                return;
            }
            holder.kill('SIGKILL');
            this.withoutView(unshare, failure || refusalReason(words[0], errorText, null, code, signal));
        });
    }

    // Whether `words` start a program at once (a quick one): they are walls the system grants.
    granted(words) {
        const quick = firstExisting(QUICK_PROGRAMS);
        const probe = childProcess.spawnSync(words[0], words.slice(1).concat(quick ? [quick] : [process.execPath, '-e', '']), {
            env: {}, stdio: ['ignore', 'ignore', 'pipe'], timeout: VIEW_TIMEOUT_MS, cwd: this.cwd,
        });
        return { ok: probe.status === 0, reason: refusalReason(words[0], probe.stderr, probe.error, probe.status, probe.signal) };
    }

    // The namespaces without a view, checked on a program that starts at once.
    withoutView(unshare, viewRefusal) {
        if (this.asRoot) {
            this.asAnotherUser(unshare, viewRefusal);
            return;
        }
        if (this.granted([unshare].concat(UNSHARE_ARGUMENTS)).ok) {
            this.settle([unshare].concat(UNSHARE_ARGUMENTS), 'Server page scripts see the whole file system: this ' +
                'system refused them a view of their own (' + viewRefusal + '). They have no network, and node ' +
                'keeps them from files.');
        } else {
            this.settle([], 'Server page scripts run without namespaces of their own: this system refused them (' +
                viewRefusal + '). Node keeps them from files, other programs and workers, but not from the network.');
        }
    }

    // For a server run as root without a view: the other namespaces (made without a user
    // namespace, as root may) where `unshare` makes them, and the unprivileged user always; or,
    // where the system refuses that user, no server pages at all.
    asAnotherUser(unshare, viewRefusal) {
        const user = [this.setpriv].concat(SETPRIV_ARGUMENTS, UNPRIVILEGED_ARGUMENTS);
        const walled = unshare ? [unshare].concat(PROCESS_ARGUMENTS, user) : null;
        if (walled && this.granted(walled).ok) {
            this.settle(walled, 'Server page scripts see the whole file system: this system refused them a view of ' +
                'their own (' + viewRefusal + '). They run as the unprivileged user, have no network, and node keeps ' +
                'them from files.');
            return;
        }
        const changed = this.granted(user);
        if (changed.ok) {
            this.settle(user, 'Server page scripts run without namespaces of their own: this system refused them (' +
                viewRefusal + '). They run as the unprivileged user, and node keeps them from files, other programs ' +
                'and workers, but not from the network.', false);
            return;
        }
        this.refuse('the system refused to run them as another user (' + changed.reason + ')');
    }

    // Server pages do not run: Korvane runs as root, and their scripts cannot be made another user.
    refuse(reason) {
        this.refusal = 'Server pages do not run: Korvane runs as root here, and a page\'s script never runs as ' +
            'root, but ' + reason + '. Run Korvane as another user to run server pages.';
        this.settle([], this.refusal);
    }

    settle(words, note, forks = words.length > 0) {
        this.words = words;
        this.forks = forks;
        this.making = false;
        if (note && !this.noted) {
            this.noted = true;
            this.log(note);
        }
        this.known();
    }

    end() {
        if (this.holder) this.holder.kill('SIGKILL');
    }
}

// The first child of process `pid`, or 0.
function childOf(pid) {
    try {
        return Number(fs.readFileSync('/proc/' + pid + '/task/' + pid + '/children', 'utf8').trim().split(/\s+/)[0]) || 0;
    } catch (e) {
        // a kernel without that file: the processes' parents tell
    }
    try {
        for (const entry of fs.readdirSync('/proc')) {
            if (!/^\d+$/.test(entry)) continue;
            try {
                const stat = fs.readFileSync('/proc/' + entry + '/stat', 'utf8');
                if (Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]) === pid) return Number(entry);
            } catch (e) {
                // gone meanwhile
            }
        }
    } catch (e) {
        // no /proc
    }
    return 0;
}

// The script process of `sandbox`: the child itself, or the child of the unshare it was started
// through (0 while it is not known yet).
function scriptProcess(sandbox) {
    if (!sandbox.forks) return sandbox.child.pid;
    if (!sandbox.scriptPid) sandbox.scriptPid = childOf(sandbox.child.pid);
    return sandbox.scriptPid;
}

// A request the server does not take now: answered with `status` and a Retry-After.
class Refusal extends Error {
    constructor(message, retryAfterSeconds) {
        super(message);
        this.status = 503;
        this.retryAfter = Math.max(1, Math.ceil(retryAfterSeconds));
    }
}

// Server pages that do not run on this system at all (see ScriptWalls): answered 500 with the
// reason, and without a Retry-After, since trying again changes nothing.
class ScriptsRefused extends Refusal {
    constructor(message) {
        super(message, 1);
        this.status = 500;
        this.retryAfter = 0;
    }
}

class ServerPageScripts {
    // `sandboxSource`: the text of kr-server-page-sandbox.js; `store`: the project's
    // ProjectStore; `log(text)`.
    constructor({ sandboxSource, cwd, store, log }) {
        this.arguments = [
            '--experimental-permission',
            '--no-warnings',
            '--disallow-code-generation-from-strings',
            '--max-old-space-size=' + SCRIPT_HEAP_MB,
            '-e', sandboxSource,
        ];
        this.cwd = cwd;
        this.store = store;
        this.log = log;
        this.idle = [];
        this.live = new Set();
        this.running = 0;
        this.runQueue = []; // tickets whose body is read, in order of arrival
        this.waiting = 0;
        this.bodyQueue = []; // tickets waiting for room for their body
        this.budgetTimer = null; // while bodies wait for room
        this.bodyBytes = 0; // reserved by admitted requests
        this.bodies = 0; // requests waiting for their body or reading it
        this.answerBytes = 0; // answers held for clients
        this.pages = new Map();
        this.quickPages = new Map(); // file -> stamp of the version that ran quickly
        this.walls = new ScriptWalls(cwd, log, () => this.startWaiting());
        setInterval(() => this.endIdleProcesses(), IDLE_PROCESS_MS / 2).unref();
    }

    // ------------------------------------------------------------ admission
    //
    // A ticket goes: "waiting" (admitted) -> "body" (waiting for room for its body) ->
    // "reading" -> "queued" (waiting for a process) -> "running" -> "finished" -> "done"
    // (released); a request without a body skips the body states, and a refused one leaves
    // its queue at once. A body that finds no place is "arriving" until it is judged (see
    // BODY_FAIR_BYTES_PER_SECOND), then "waiting" or refused. Until it runs it counts as
    // waiting; until it is released it holds its body's share of the budget.

    // A ticket for a request of the page at `file` (`stamp` tells versions of the file
    // apart), or a Refusal thrown. A request `withBody` counts among the bodies until it is
    // read, and only then among the waiting requests.
    admit(file, stamp, name, withBody) {
        const page = this.page(file, stamp, name);
        const now = Date.now();
        if (page.pausedUntil > now) {
            throw new Refusal(this.pauseMessage(page), (page.pausedUntil - now) / 1000);
        }
        // A body that finds every place taken waits to be judged only while some of those
        // places are held by bodies that come slowly; until then it counts as waiting.
        const arriving = withBody && !this.bodyPlaceFor(page);
        const waits = !withBody || arriving;
        if ((waits && !this.roomToWait(page)) || (arriving && !this.slowBodyIn(page))) {
            this.forget(page);
            throw this.busy();
        }
        const ticket = { page, state: arriving ? 'arriving' : 'waiting', counted: false, bodyCounted: false, body: 0,
                         granted: false, refusal: null, wake: null, answerBytes: 0, clientGone: false,
                         arrivedAt: now, grantedAt: 0, bytesAtGrant: 0, timer: null,
                         // Set by the caller: the bytes of the body come so far, whether it has
                         // come whole, whether the server holds as much of it unread as it takes
                         // before it stops reading, and a function that stops its reading (false
                         // when it is not being read).
                         bodyArrived: () => 0, bodyWhole: () => false, bodyHeld: () => false,
                         cutOff: () => false };
        if (waits) {
            this.count(ticket);
        } else {
            this.takeBodyPlace(ticket);
        }
        page.tickets.add(ticket);
        return ticket;
    }

    bodyPlaceFor(page) {
        return this.bodies < MAX_BODIES && page.bodies < MAX_BODIES_PER_PAGE;
    }

    takeBodyPlace(ticket) {
        ticket.bodyCounted = true;
        ++this.bodies;
        ++ticket.page.bodies;
    }

    leaveBodyPlace(ticket) {
        ticket.bodyCounted = false;
        --this.bodies;
        --ticket.page.bodies;
    }

    // The bodies being read for `pages`.
    readers(pages) {
        const tickets = [];
        for (const page of pages) {
            for (const ticket of page.tickets) {
                if (ticket.state === 'reading') tickets.push(ticket);
            }
        }
        return tickets;
    }

    // The bodies whose places a body for `page` may take: the page's own when it has no place
    // left, any page's when all pages together have none.
    bodiesFor(page) {
        return this.readers(page.bodies >= MAX_BODIES_PER_PAGE ? [page] : this.pages.values());
    }

    // Bytes a second at which the body of `ticket` has come since it was given its place.
    bodyRate(ticket, now) {
        return 1000 * (ticket.bodyArrived() - ticket.bytesAtGrant) / Math.max(1, now - ticket.grantedAt);
    }

    comesSlowly(ticket, now, trialMs) {
        return now - ticket.grantedAt >= trialMs && !ticket.bodyWhole() &&
            this.bodyRate(ticket, now) < BODY_FAIR_BYTES_PER_SECOND;
    }

    // Whether a place that `page`'s bodies may take is held by a body that comes slowly (one
    // whose trial has not ended included).
    slowBodyIn(page) {
        const now = Date.now();
        return this.bodiesFor(page).some((ticket) => this.comesSlowly(ticket, now, ARRIVAL_LOOK_MS));
    }

    // The slowest body whose trial has ended among `tickets`, or null.
    slowest(tickets) {
        const now = Date.now();
        let found = null;
        let foundRate = Infinity;
        for (const ticket of tickets) {
            if (!this.comesSlowly(ticket, now, BODY_TRIAL_MS)) continue;
            const rate = this.bodyRate(ticket, now);
            if (rate < foundRate) {
                found = ticket;
                foundRate = rate;
            }
        }
        return found;
    }

    // The body of `ticket` is read no further: it is answered 408 and its place and share of
    // the budget are free at once. False when its reading has not begun.
    cutOffBody(ticket) {
        if (!ticket.cutOff()) return false;
        this.release(ticket);
        return true;
    }

    // Resolves once `ticket` (an arriving request) has a place for its body; rejects with a
    // Refusal when its body comes as slowly as those holding the places, or no place is freed
    // for it in time.
    enterBodies(ticket) {
        if (ticket.state !== 'arriving') return Promise.resolve();
        return new Promise((resolve, reject) => {
            ticket.wake = { resolve, reject };
            ticket.timer = setTimeout(() => this.judgeArrival(ticket), ARRIVAL_LOOK_MS);
        });
    }

    judgeArrival(ticket) {
        ticket.timer = null;
        if (ticket.state !== 'arriving') return;
        const now = Date.now();
        const page = ticket.page;
        const age = now - ticket.arrivedAt;
        const arrived = ticket.bodyArrived();
        // A body the server holds back (it reads no more of one that waits for a place) comes as
        // fast as it is let: its rate by the clock would fall the longer it is kept waiting.
        const fair = ticket.bodyWhole() || ticket.bodyHeld() ||
            1000 * arrived / Math.max(1, age) >= BODY_FAIR_BYTES_PER_SECOND;
        // Nothing of it yet: not judged until its first bytes come.
        const unseen = !fair && arrived === 0;
        if (fair && !this.bodyPlaceFor(page)) {
            const victim = this.slowest(this.bodiesFor(page));
            if (victim) this.cutOffBody(victim);
        }
        if (fair && this.bodyPlaceFor(page)) {
            this.uncount(ticket);
            this.takeBodyPlace(ticket);
            ticket.state = 'waiting';
            this.wake(ticket).resolve();
        } else if (age < ARRIVAL_WAIT_MS && (unseen || (fair && this.slowBodyIn(page)))) {
            ticket.timer = setTimeout(() => this.judgeArrival(ticket), ARRIVAL_LOOK_MS);
        } else {
            this.wake(ticket).reject(this.busy());
        }
    }

    roomToWait(page) {
        return this.waiting < MAX_WAITING && page.waiting < MAX_WAITING_PER_PAGE;
    }

    busy() {
        return new Refusal('Server busy: too many server page requests are waiting; try again shortly', 1);
    }

    count(ticket) {
        ticket.counted = true;
        ++this.waiting;
        ++ticket.page.waiting;
    }

    uncount(ticket) {
        ticket.counted = false;
        --this.waiting;
        --ticket.page.waiting;
    }

    page(file, stamp, name) {
        let page = this.pages.get(file);
        if (!page) {
            page = { file, name, stamp, running: 0, waiting: 0, bodies: 0, failures: 0, pausedUntil: 0, lastFailure: '',
                     tickets: new Set() };
            this.pages.set(file, page);
        } else if (page.stamp !== stamp) {
            // A changed page starts with a clean slate.
            page.stamp = stamp;
            page.failures = 0;
            page.pausedUntil = 0;
        }
        return page;
    }

    pauseMessage(page) {
        const seconds = Math.ceil((page.pausedUntil - Date.now()) / 1000);
        return 'The server page ' + page.name + ' is paused for ' + seconds + ' s: its last ' + page.failures +
            ' requests failed (' + page.lastFailure + ')';
    }

    // Resolves once `bytes` of body fit in the budget (a body of unknown length reserves the
    // largest size); rejects with a Refusal when the page is paused meanwhile.
    reserveBody(ticket, bytes) {
        if (ticket.refusal || ticket.state === 'done') return Promise.reject(this.refusalOf(ticket));
        if (ticket.state === 'arriving') return this.enterBodies(ticket).then(() => this.reserveBody(ticket, bytes));
        return new Promise((resolve, reject) => {
            ticket.body = Math.min(bytes, MAX_BODY_BYTES);
            ticket.state = 'body';
            ticket.wake = { resolve, reject };
            if (ticket.body <= SMALL_BODY_BYTES) {
                this.grantBody(ticket);
                return;
            }
            ticket.timer = setTimeout(() => {
                ticket.timer = null;
                const wake = this.wake(ticket);
                this.release(ticket);
                wake.reject(new Refusal('Server busy: there was no room to read the body of the request within ' +
                    BODY_ROOM_WAIT_MS / 1000 + ' s; try again shortly', 5));
            }, BODY_ROOM_WAIT_MS);
            this.bodyQueue.push(ticket);
            this.grantBodies();
        });
    }

    grantBody(ticket) {
        if (ticket.timer) {
            clearTimeout(ticket.timer);
            ticket.timer = null;
        }
        this.bodyBytes += ticket.body;
        ticket.granted = true;
        ticket.state = 'reading';
        ticket.grantedAt = Date.now();
        ticket.bytesAtGrant = ticket.bodyArrived();
        this.wake(ticket).resolve();
    }

    grantBodies() {
        while (this.bodyQueue.length > 0 && this.bodyBytes + this.bodyQueue[0].body <= BODY_BUDGET_BYTES) {
            this.grantBody(this.bodyQueue.shift());
        }
        // Bodies waiting for the budget while slow ones hold it: the slow ones are looked at
        // again as their trials end.
        if (this.bodyQueue.length > 0 && !this.budgetTimer) {
            this.budgetTimer = setInterval(() => this.makeRoomForBodies(), ARRIVAL_LOOK_MS);
            this.budgetTimer.unref();
        } else if (this.bodyQueue.length === 0 && this.budgetTimer) {
            clearInterval(this.budgetTimer);
            this.budgetTimer = null;
        }
    }

    // The slowest bodies give their share of the budget to those waiting for it.
    makeRoomForBodies() {
        while (this.bodyQueue.length > 0 && this.bodyBytes + this.bodyQueue[0].body > BODY_BUDGET_BYTES) {
            const victim = this.slowest(this.readers(this.pages.values()));
            if (!victim || !this.cutOffBody(victim)) break;
        }
    }

    refusalOf(ticket) {
        return ticket.refusal || new Refusal('The request was given up', 1);
    }

    wake(ticket) {
        const wake = ticket.wake;
        ticket.wake = null;
        return wake;
    }

    // The body turned out `bytes` long.
    bodyRead(ticket, bytes) {
        if (!ticket.granted) return;
        this.bodyBytes -= ticket.body - bytes;
        ticket.body = bytes;
        this.grantBodies();
    }

    // Runs the request's script once a process is free for its page; resolves with the
    // outcome, or rejects with a Refusal when its page is paused meanwhile.
    run(ticket, job, body) {
        if (ticket.refusal || ticket.state === 'done') return Promise.reject(this.refusalOf(ticket));
        if (this.walls.refusal) return Promise.reject(new ScriptsRefused(this.walls.refusal));
        if (ticket.bodyCounted) {
            this.leaveBodyPlace(ticket);
            if (!this.roomToWait(ticket.page)) return Promise.reject(this.busy());
            this.count(ticket);
        }
        return new Promise((resolve, reject) => {
            ticket.state = 'queued';
            ticket.wake = { resolve, reject };
            ticket.job = job;
            ticket.bodyData = body;
            this.runQueue.push(ticket);
            this.startWaiting();
        });
    }

    // The request is over (answered, refused, or its client has gone): whatever it still holds
    // is given back. Safe to call more than once; a running script is left to finish.
    release(ticket) {
        if (ticket.state === 'done') return;
        if (ticket.state === 'running') {
            ticket.releaseWhenDone = true;
            return;
        }
        this.leaveQueues(ticket);
        if (ticket.timer) {
            clearTimeout(ticket.timer);
            ticket.timer = null;
        }
        if (ticket.counted) this.uncount(ticket);
        if (ticket.bodyCounted) this.leaveBodyPlace(ticket);
        if (ticket.granted) {
            ticket.granted = false;
            this.bodyBytes -= ticket.body;
        }
        ticket.state = 'done';
        ticket.bodyData = null;
        ticket.page.tickets.delete(ticket);
        if (ticket.wake) this.wake(ticket).reject(new Refusal('The request was given up', 1));
        this.forget(ticket.page);
        this.grantBodies();
        this.startWaiting();
    }

    leaveQueues(ticket) {
        for (const queue of [this.bodyQueue, this.runQueue]) {
            const index = queue.indexOf(ticket);
            if (index >= 0) queue.splice(index, 1);
        }
    }

    forget(page) {
        if (page.tickets.size === 0 && page.failures === 0 && this.pages.get(page.file) === page) {
            this.pages.delete(page.file);
        }
    }

    // ------------------------------------------------------------ scheduling

    capacity(page) {
        return page.failures > 0 ? 1 : MAX_RUNNING_PER_PAGE;
    }

    // The client of the request has gone, or has read its answer: the answer is no longer held.
    answerGone(ticket) {
        ticket.clientGone = true;
        this.answerBytes -= ticket.answerBytes;
        ticket.answerBytes = 0;
    }

    quick(page) {
        return page.failures === 0 && this.quickPages.get(page.file) === page.stamp;
    }

    // The next request to run: of the pages that may run one more script, the first waiting
    // of the one running the fewest; past the pool, only a page known to run quickly. The
    // index in the run queue, or -1.
    nextToRun() {
        let best = -1;
        for (let i = 0; i < this.runQueue.length; ++i) {
            const page = this.runQueue[i].page;
            if (page.running >= this.capacity(page)) continue;
            if (this.running >= MAX_RUNNING_SCRIPTS && !this.quick(page)) continue;
            if (best < 0 || page.running < this.runQueue[best].page.running) {
                best = i;
                if (page.running === 0) break;
            }
        }
        return best;
    }

    startWaiting() {
        // Nothing starts before the walls of the processes are known: the first time, while
        // their view is made.
        if (this.walls.words === null) {
            this.walls.make();
            return;
        }
        if (this.walls.refusal) {
            const refusal = new ScriptsRefused(this.walls.refusal);
            for (const ticket of this.runQueue.splice(0)) {
                ticket.refusal = refusal;
                ticket.state = 'refused';
                this.wake(ticket).reject(refusal);
            }
            return;
        }
        while (this.runQueue.length > 0 && this.running < MAX_RUNNING_SCRIPTS + 1) {
            const index = this.nextToRun();
            if (index < 0) break;
            const [ticket] = this.runQueue.splice(index, 1);
            this.start(ticket);
        }
        // One ready for the next request.
        if (this.idle.length === 0 && this.live.size < MAX_RUNNING_SCRIPTS + 1) {
            this.idle.push(this.startSandbox());
        }
    }

    start(ticket) {
        const page = ticket.page;
        ++this.running;
        ++page.running;
        this.uncount(ticket);
        ticket.state = 'running';
        const { resolve } = this.wake(ticket);
        this.runInSandbox(this.takeSandbox(), ticket, (outcome, processorMs) => {
            --this.running;
            --page.running;
            ticket.state = 'finished';
            ticket.bodyData = null;
            this.record(page, outcome);
            this.rememberSpeed(page, outcome, processorMs);
            if (ticket.releaseWhenDone) this.release(ticket);
            resolve(outcome);
            this.startWaiting();
        });
    }

    // `processorMs`: the processor time the request took (for one shorter than
    // PROCESSOR_READ_AFTER_MS on the clock, that time), or -1 when unknown.
    rememberSpeed(page, outcome, processorMs) {
        this.quickPages.delete(page.file);
        if (outcome.ok !== true || outcome.costly || processorMs < 0 || processorMs > QUICK_RUN_MS) return;
        this.quickPages.set(page.file, page.stamp);
        if (this.quickPages.size > QUICK_PAGES_REMEMBERED) {
            this.quickPages.delete(this.quickPages.keys().next().value);
        }
    }

    // Counts the failures that cost a process (time, memory, a crash); pauses a page that
    // keeps failing so, and refuses the requests it has waiting.
    record(page, outcome) {
        if (!outcome.costly) {
            page.failures = 0;
            return;
        }
        ++page.failures;
        page.lastFailure = String(outcome.message);
        if (page.failures < FAILURES_BEFORE_PAUSE) return;
        const pause = Math.min(LONGEST_PAUSE_MS, FIRST_PAUSE_MS * 2 ** (page.failures - FAILURES_BEFORE_PAUSE));
        page.pausedUntil = Date.now() + pause;
        this.log('Server page ' + page.name + ': paused for ' + pause / 1000 + ' s after ' + page.failures +
            ' failed requests in a row');
        const refusal = new Refusal(this.pauseMessage(page), pause / 1000);
        for (const ticket of page.tickets) {
            if (ticket.state === 'running' || ticket.state === 'finished') continue;
            ticket.refusal = refusal;
            if (ticket.state === 'body' || ticket.state === 'queued') {
                this.leaveQueues(ticket);
                ticket.state = 'refused';
                this.wake(ticket).reject(refusal);
            }
        }
    }

    // ------------------------------------------------------------ processes

    // Idle processes beyond the one kept ready end once they have been idle for a while: each
    // holds the stored items it was sent.
    endIdleProcesses() {
        const now = Date.now();
        for (const sandbox of this.idle.slice(1)) {
            if (now - sandbox.idleSince >= IDLE_PROCESS_MS) {
                this.idle.splice(this.idle.indexOf(sandbox), 1);
                if (!sandbox.exited) sandbox.child.stdin.end(); // it exits when its input ends
            }
        }
    }

    startSandbox() {
        // `processor`: what is known of the process's processor time and wait for a processor,
        // as read last (see PROCESSOR_READ_AFTER_MS), and how long its requests have run since.
        const sandbox = { errorText: '', exited: false, served: 0, job: null, baseVersion: -1, storeVersion: -1,
                          idleSince: Date.now(), processor: { usedMs: 0, waitedMs: 0, ranSinceReadMs: Infinity } };
        const walls = this.walls.words; // known: see startWaiting
        sandbox.forks = this.walls.forks;
        const command = walls.length > 0 ? walls[0] : process.execPath;
        const words = walls.length > 0 ? walls.slice(1).concat([process.execPath], this.arguments) : this.arguments;
        const child = childProcess.spawn(command, words, {
            cwd: this.cwd,
            env: {},
            stdio: ['pipe', 'pipe', 'pipe'],
        });
        sandbox.child = child;
        this.live.add(sandbox);
        child.stdout.on('data', (chunk) => this.readAnswer(sandbox, chunk));
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
            this.live.delete(sandbox);
            const index = this.idle.indexOf(sandbox);
            if (index >= 0) this.idle.splice(index, 1);
            if (sandbox.job) this.finishJob(sandbox, null, false);
        });
        this.sendStoredItems(sandbox);
        return sandbox;
    }

    // A new process gets the stored items at once, while it has no request to run: a store of
    // some size takes a while to go through the pipe and to be read, and its first request
    // would wait for that. Nothing goes when the store has not been read yet (the first
    // request sends it then) or is empty.
    sendStoredItems(sandbox) {
        if (!this.store.loaded || this.store.items.size === 0) return;
        const { head, base, changes } = this.storedItemsFor(sandbox);
        sandbox.child.stdin.write(JSON.stringify(Object.assign(head, { storedItemsOnly: true, bodyBytes: 0 })) + '\n');
        for (const part of [base, changes]) {
            if (part.length > 0) sandbox.child.stdin.write(part);
        }
    }

    // What the process lacks of the current stored items: the base block when it has another,
    // the changes since the base when it has other ones; it is taken to hold them from now on.
    storedItemsFor(sandbox) {
        const state = this.store.state();
        const items = this.store.forScripts();
        const base = sandbox.baseVersion === items.baseVersion ? NO_BYTES : items.base;
        const changes = base.length === 0 && sandbox.storeVersion === state.version ? NO_BYTES : items.changes;
        sandbox.baseVersion = items.baseVersion;
        sandbox.storeVersion = state.version;
        const head = {
            storage: Object.assign(state, { baseVersion: items.baseVersion }),
            baseBytes: base.length,
            changesBytes: changes.length,
        };
        return { head, base, changes };
    }

    // The process that finished last: it is warm, while the one kept ready may have only just
    // been started (a node process takes a good while to start on a busy machine) and is left
    // for when the warm one is replaced.
    takeSandbox() {
        while (this.idle.length > 0) {
            const sandbox = this.idle.pop();
            if (!sandbox.exited) return sandbox;
        }
        return this.startSandbox();
    }

    // Reads the processor time process `sandbox` has used so far, and its wait for a processor
    // (see PROCESSOR_READ_AFTER_MS); the processor time in milliseconds, or -1 when unknown (a
    // process being started: what was known stays).
    readProcessor(sandbox) {
        const pid = scriptProcess(sandbox);
        const used = processorMs(pid);
        if (used < 0) return -1;
        const known = sandbox.processor;
        known.usedMs = used;
        known.waitedMs = Math.max(known.waitedMs, waitedForProcessorMs(pid));
        known.ranSinceReadMs = 0;
        return used;
    }

    killSandbox(sandbox) {
        if (!sandbox.exited) sandbox.child.kill('SIGKILL');
    }

    endAll() {
        this.walls.end();
        for (const sandbox of this.live) {
            try {
                sandbox.child.kill('SIGKILL');
            } catch (e) {
                // already gone
            }
        }
    }

    // Sends the job, its body and what this process lacks of the current stored items: the base
    // block when it has another, the changes since the base when it has other ones.
    runInSandbox(sandbox, ticket, done) {
        const job = ticket.job;
        const body = ticket.bodyData;
        // The processor time the process has used before this request, and its wait for a
        // processor, as read last: none while they are not known yet (a process just started), so
        // that its start counts against the request, never less.
        const known = sandbox.processor;
        if (known.ranSinceReadMs >= PROCESSOR_READ_AFTER_MS) this.readProcessor(sandbox);
        const current = { done, ticket, timedOut: false, ranTooLong: false, overMemory: false, head: null, chunks: [],
                          bytes: 0, discard: false, html: null, processorAtStart: known.usedMs, startedAt: Date.now(),
                          waitedAtStart: known.waitedMs };
        sandbox.job = current;
        // A script starved of the processor is not one that waits for nothing: the time it spent
        // in the run queue is added to its limit (counted from its process's start while its
        // wait before this request is not known).
        const backstop = (delay) => {
            current.timer = setTimeout(() => {
                const waited = Math.max(0, waitedForProcessorMs(scriptProcess(sandbox)) - current.waitedAtStart);
                const left = SCRIPT_RUN_LIMIT_MS - (Date.now() - current.startedAt - waited);
                if (left > 0) {
                    backstop(left);
                    return;
                }
                current.ranTooLong = true;
                this.killSandbox(sandbox);
            }, delay);
        };
        backstop(SCRIPT_RUN_LIMIT_MS);
        current.watch = setInterval(() => {
            const pid = scriptProcess(sandbox);
            if (residentBytes(pid) > SCRIPT_MEMORY_BYTES) {
                current.overMemory = true;
                this.killSandbox(sandbox);
            } else if (Date.now() - current.startedAt >= PROCESSOR_WATCH_AFTER_MS &&
                       processorMs(pid) - current.processorAtStart > SCRIPT_TIMEOUT_MS) {
                current.timedOut = true;
                this.killSandbox(sandbox);
            }
        }, 100);
        ++sandbox.served;
        const stored = this.storedItemsFor(sandbox);
        const { base, changes } = stored;
        const head = Object.assign({}, job, stored.head, {
            bodyBytes: body.length,
            limits: {
                answerBytes: MAX_ANSWER_BYTES,
                itemChars: storage.ITEM_LIMIT,
                storeChars: storage.STORE_LIMIT,
                logLines: MAX_LOG_LINES,
                logChars: MAX_LOG_CHARS,
            },
        });
        const stdin = sandbox.child.stdin;
        stdin.write(JSON.stringify(head) + '\n');
        for (const part of [body, base, changes]) {
            if (part.length > 0) stdin.write(part);
        }
    }

    // An answer is a line of JSON ({"htmlBytes", "outcome"}) and then that many bytes of text;
    // chunks are kept as they come and joined once.
    readAnswer(sandbox, chunk) {
        const current = sandbox.job;
        if (!current) {
            this.killSandbox(sandbox); // output nobody asked for
            return;
        }
        while (chunk.length > 0) {
            if (current.head === null) {
                const end = chunk.indexOf(10);
                const part = end < 0 ? chunk : chunk.subarray(0, end);
                current.chunks.push(part);
                current.bytes += part.length;
                if (current.bytes > MAX_OUTCOME_LINE_BYTES) {
                    sandbox.tooLarge = true;
                    this.killSandbox(sandbox);
                    return;
                }
                if (end < 0) return;
                chunk = chunk.subarray(end + 1);
                let head = null;
                try {
                    head = JSON.parse(Buffer.concat(current.chunks, current.bytes).toString('utf8'));
                } catch (e) {
                    head = null;
                }
                current.chunks = [];
                current.bytes = 0;
                if (head === null || typeof head !== 'object' || !Number.isSafeInteger(head.htmlBytes) ||
                    head.htmlBytes < 0) {
                    current.unreadable = true;
                    this.finishJob(sandbox, null, false);
                    return;
                }
                if (head.htmlBytes > MAX_ANSWER_BYTES) {
                    sandbox.tooLarge = true;
                    this.finishJob(sandbox, null, false);
                    return;
                }
                current.head = head;
                // The answer is kept only for a client that is still there, and (unless it is
                // small) only while the answers held for clients stay within their budget;
                // otherwise it is read and dropped.
                const ticket = current.ticket;
                const overBudget = head.htmlBytes > SMALL_ANSWER_BYTES &&
                    this.answerBytes + head.htmlBytes > ANSWER_BUDGET_BYTES;
                if (ticket.clientGone || overBudget) {
                    current.discard = true;
                } else {
                    ticket.answerBytes = head.htmlBytes;
                    this.answerBytes += head.htmlBytes;
                    // The text goes into one buffer of its size as it comes: the pipe's chunks
                    // are let go at once instead of piling up in the heap, where what they
                    // leave behind would stay with the process long after the answer.
                    current.html = Buffer.allocUnsafeSlow(head.htmlBytes);
                }
            }
            const part = chunk.subarray(0, current.head.htmlBytes - current.bytes);
            if (part.length > 0) {
                if (!current.discard) part.copy(current.html, current.bytes);
                current.bytes += part.length;
                chunk = chunk.subarray(part.length);
            }
            if (current.bytes === current.head.htmlBytes) {
                const html = current.discard ? null : current.html;
                current.html = null;
                current.chunks = [];
                // Anything past the one answer is output nobody asked for: the process is not used again.
                this.finishJob(sandbox, { outcome: current.head.outcome, html }, chunk.length === 0);
                return;
            }
        }
    }

    // The process answered (`answer`) or ended without an answer (null).
    finishJob(sandbox, answer, reusable) {
        const current = sandbox.job;
        if (!current || !reusable) {
            this.killSandbox(sandbox);
        }
        if (!current) {
            return;
        }
        sandbox.job = null;
        clearTimeout(current.timer);
        clearInterval(current.watch);
        const ran = Date.now() - current.startedAt;
        sandbox.processor.ranSinceReadMs += ran;
        let processorUsed = -1;
        if (!sandbox.exited && ran < PROCESSOR_READ_AFTER_MS) {
            processorUsed = ran;
        } else if (!sandbox.exited) {
            const used = this.readProcessor(sandbox);
            processorUsed = used < 0 ? -1 : used - current.processorAtStart;
        }
        let outcome = answer === null ? null : answer.outcome;
        if (outcome === null || typeof outcome !== 'object' || Array.isArray(outcome)) {
            this.killSandbox(sandbox);
            const heapExhausted = /heap out of memory|Reached heap limit/.test(sandbox.errorText);
            let message;
            if (current.timedOut) {
                message = 'the script did not finish within ' + SCRIPT_TIMEOUT_MS / 1000 + ' s of processor time';
            } else if (current.ranTooLong) {
                message = 'the script did not finish within ' + SCRIPT_RUN_LIMIT_MS / 1000 + ' s';
            } else if (current.overMemory || heapExhausted) {
                message = 'the script ran out of memory';
            } else if (sandbox.tooLarge) {
                message = 'the script\'s answer is too large (at most ' + MAX_ANSWER_BYTES + ' bytes)';
            } else if (answer !== null || current.unreadable) {
                message = 'the script\'s answer could not be read';
            } else {
                message = 'the script ended without an answer (' +
                    (sandbox.signal ? 'signal ' + sandbox.signal : 'exit code ' + sandbox.exitCode) + ')';
            }
            outcome = { ok: false, costly: true, message, stack: message + '\n' + sandbox.errorText.slice(0, 2000) };
        } else {
            outcome.html = answer.html;
            outcome.costly = outcome.retire === true;
            if (answer.html === null) {
                outcome.refusal = new Refusal('Server busy: the answers of other requests are still being delivered; ' +
                    'try again shortly', 1);
            }
            if ((outcome.retire === true || sandbox.served >= SANDBOX_REQUESTS) && !sandbox.exited) {
                sandbox.child.stdin.end(); // it exits when its input ends
            } else if (!sandbox.exited && reusable) {
                sandbox.idleSince = Date.now();
                this.idle.push(sandbox);
            }
        }
        current.done(outcome, processorUsed);
    }
}

// The processor time process `pid` has used, all its threads together, in milliseconds; -1 when
// unknown. The kernel counts it in ticks of 1/100 s (USER_HZ).
function processorMs(pid) {
    if (!pid) return -1;
    try {
        const stat = fs.readFileSync('/proc/' + pid + '/stat', 'utf8');
        const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
        const ticks = Number(fields[11]) + Number(fields[12]); // utime, stime
        return Number.isFinite(ticks) ? ticks * 10 : -1;
    } catch (e) {
        return -1;
    }
}

// How long process `pid`'s main thread has waited in the run queue for a processor so far, in
// milliseconds; -1 when unknown.
function waitedForProcessorMs(pid) {
    if (!pid) return -1;
    try {
        const waited = Number(fs.readFileSync('/proc/' + pid + '/schedstat', 'utf8').split(' ')[1]);
        return Number.isFinite(waited) ? waited / 1e6 : -1;
    } catch (e) {
        return -1;
    }
}

function residentBytes(pid) {
    if (!pid) return 0;
    try {
        const fields = fs.readFileSync('/proc/' + pid + '/statm', 'utf8').split(' ');
        return parseInt(fields[1], 10) * 4096;
    } catch (e) {
        return 0;
    }
}

module.exports = { ServerPageScripts, ScriptWalls, Refusal, MAX_BODY_BYTES, MAX_ANSWER_BYTES, SCRIPT_TIMEOUT_MS };
