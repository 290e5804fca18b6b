'use strict';
// The local runtime server, started the same way for what the walls of its script processes
// cost: with "view" as it runs them (in namespaces of their own, seeing of the file system
// only their read-only view), with "no-view" in namespaces of their own but without the view,
// as where the system refuses it. For measuring only.
//
//   node walls-server.js <server folder> <document root> view|no-view
//
// Its first line is the server's {"port": N, ...}; it ends when standard input closes.

const fs = require('fs');
const path = require('path');

const [serverFolder, documentRoot, walls] = process.argv.slice(2);
if (walls === 'no-view') {
    const { ScriptWalls } = require(path.resolve(serverFolder, 'kr-server-page-scripts.js'));
    ScriptWalls.prototype.make = function () {
        if (this.words !== null || this.making) return;
        this.making = true;
        this.noted = true; // nothing to say in the run log
        const unshare = ['/usr/bin/unshare', '/bin/unshare'].find((file) => fs.existsSync(file));
        if (unshare) {
            this.withoutView(unshare, '');
        } else {
            this.settle([], '');
        }
    };
}
// The server ends when nothing comes on its input for a while: the benchmark writes nothing.
setInterval(() => process.stdin.emit('data', Buffer.alloc(0)), 1000).unref();
process.argv = [process.argv[0], path.resolve(serverFolder, 'kr-local-runtime.js'), documentRoot, '0'];
require(process.argv[1]);
