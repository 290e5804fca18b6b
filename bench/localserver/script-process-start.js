'use strict';
// How long a script process of the local runtime server takes to start and end, one after the
// other: through the walls of the server (its view made once, then entered by each process),
// through namespaces of its own without the view, and with no walls. For measuring only.
//
//   node script-process-start.js <server folder> <site> <processes>
//
// Writes {"view": [ms, cpu ms], "withoutView": [...], "none": [...], "viewMade": ms, "walls": [...]}:
// of each the median time and the processor time a process took (its own and that of the
// programs that set up its walls), the time the view took to be made, and the walls of the first.

const childProcess = require('child_process');
const fs = require('fs');
const path = require('path');

const [serverFolder, site, count] = process.argv.slice(2);
const { ScriptWalls } = require(path.resolve(serverFolder, 'kr-server-page-scripts.js'));
const unshare = ['/usr/bin/unshare', '/bin/unshare'].find((file) => fs.existsSync(file));

// The processor time of this process's children that have ended, in ms.
function childrenTime() {
    const stat = fs.readFileSync('/proc/self/stat', 'utf8');
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    return (Number(fields[13]) + Number(fields[14])) * 10; // clock ticks of 10 ms
}

function measure(words) {
    const times = [];
    const used = childrenTime();
    for (let i = 0; i < Number(count); ++i) {
        const start = process.hrtime.bigint();
        const run = childProcess.spawnSync(words[0], words.slice(1).concat(['-e', '']), { cwd: site, env: {} });
        if (run.status !== 0) return [-1, -1];
        times.push(Number(process.hrtime.bigint() - start) / 1e6);
    }
    times.sort((a, b) => a - b);
    return [times[Math.floor(times.length / 2)], (childrenTime() - used) / Number(count)];
}

const made = process.hrtime.bigint();
const view = new ScriptWalls(site, () => {}, () => {
    const viewMade = Number(process.hrtime.bigint() - made) / 1e6;
    const without = new ScriptWalls(site, () => {}, () => {});
    if (unshare) without.withoutView(unshare, '');
    const figures = {
        view: measure(view.words.concat([process.execPath])),
        withoutView: unshare ? measure(without.words.concat([process.execPath])) : [-1, -1],
        none: measure([process.execPath]),
        viewMade,
        walls: view.words,
    };
    view.end();
    console.log(JSON.stringify(figures));
    process.exit(0);
});
view.make();
