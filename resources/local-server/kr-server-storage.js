'use strict';
// The data that the server pages of one project keep between requests (`storage` in their
// scripts).
//
// Every project the server serves has a store of its own: the file "storage.json" in a folder
// of the database folder (KR_DBDIR) named after a digest of the project's document root, so no
// project sees another's data and nothing a request sends has a say in where the file is. The
// store is read once and then kept in memory, each item as the JSON text of its value (encoded,
// so that writing the file or handing the items to the script processes only copies bytes);
// the file is read again only when another process has replaced it. Changes are written to a new
// file that then takes the old one's place, so the file always holds a whole store; a request
// that changed the store is answered once its change is on disk. A file that cannot be read as
// a store is set aside (renamed) and the project starts again with an empty store.
//
// Sizes are counted in characters of the key plus the value's JSON text.

const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

const ITEM_LIMIT = 1024 * 1024;
const STORE_LIMIT = 16 * 1024 * 1024;
// A file far past the store limit is not read into memory at all.
const MAX_FILE_BYTES = 6 * STORE_LIMIT;
// The script processes get the items as a base block made at one version and the changes
// since; past this many characters of changes the base is made again.
const CHANGES_LIMIT = 1024 * 1024;
const FILE_FORMAT = 1;

class StorageError extends Error {}

function formatCount(n) {
    return n.toLocaleString('en-US');
}

function itemTooLarge(key, size) {
    return 'the item ' + JSON.stringify(key.length > 40 ? key.slice(0, 40) + '...' : key) + ' would hold ' +
        formatCount(size) + ' characters; an item may hold at most ' + formatCount(ITEM_LIMIT) +
        ' characters (its key and its value as JSON)';
}

function storeTooLarge(size) {
    return 'the store would hold ' + formatCount(size) + ' characters; the server pages of a project may keep at most ' +
        formatCount(STORE_LIMIT) + ' characters';
}

// The folder of a project's store: a digest of its document root, resolved through links so
// that two names of one folder share a store.
function storeFolder(databaseFolder, documentRoot) {
    let root = path.resolve(documentRoot);
    try {
        root = fs.realpathSync(root);
    } catch (e) {
        // a root that does not exist (yet): its plain absolute path
    }
    const digest = crypto.createHash('sha256').update(root, 'utf8').digest('hex').slice(0, 32);
    return { root, folder: path.join(databaseFolder, 'server-pages', digest) };
}

function encoded(itemText) {
    return { data: Buffer.from(itemText, 'utf8'), chars: itemText.length };
}

function sameFile(a, b) {
    if (!a || !b) return a === b;
    return a.ino === b.ino && a.size === b.size && a.mtimeMs === b.mtimeMs;
}

class ProjectStore {
    // `databaseFolder` empty: the server has nowhere to keep data.
    constructor(databaseFolder, documentRoot, log) {
        this.log = log;
        this.available = Boolean(databaseFolder);
        this.items = new Map(); // key -> {data: the JSON text in UTF-8, chars: its length}
        this.size = 0;
        this.version = 0; // changes with every change of the items
        this.error = null; // why the store cannot be used, when it cannot
        this.loaded = false;
        this.fileStats = null; // of the file as last read or written
        this.loading = null;
        this.writing = false; // a write loop runs
        this.writtenVersion = 0;
        this.waiters = [];
        this.base = null; // {version, data}
        this.changes = new Map(); // key -> JSON text or null (removed), since the base
        this.changesChars = 0;
        this.changesCache = null; // {version, data}
        this.temporaryCounter = 0;
        if (this.available) {
            const { root, folder } = storeFolder(databaseFolder, documentRoot);
            this.root = root;
            this.folder = folder;
            this.file = path.join(folder, 'storage.json');
        }
    }

    // Reads the store when it has not been read yet or another process has replaced the file
    // since; resolves when the items are current.
    ready() {
        if (!this.available) return Promise.resolve();
        if (this.loading) return this.loading;
        this.loading = this.refresh().finally(() => {
            this.loading = null;
        });
        return this.loading;
    }

    async refresh() {
        let stats = null;
        try {
            stats = await fs.promises.stat(this.file);
        } catch (e) {
            if (e.code !== 'ENOENT') {
                this.fail('the data of this project cannot be read (' + e.message + ')');
                return;
            }
        }
        // Changes of ours not on disk yet are newer than any file.
        if (this.writing || this.writtenVersion < this.version) return;
        if (this.loaded && !this.error && sameFile(stats, this.fileStats)) return;
        await this.load(stats);
    }

    fail(message) {
        if (this.error !== message) this.log('Server page storage: ' + message);
        this.error = message;
    }

    async load(stats) {
        let items = new Map();
        let size = 0;
        if (stats) {
            let value = null;
            let damage = null;
            if (!stats.isFile()) {
                this.fail('the data of this project cannot be read (' + this.file + ' is not a file)');
                return;
            }
            if (stats.size > MAX_FILE_BYTES) {
                damage = 'it is ' + formatCount(stats.size) + ' bytes long';
            } else {
                let text;
                try {
                    text = await fs.promises.readFile(this.file, 'utf8');
                } catch (e) {
                    this.fail('the data of this project cannot be read (' + e.message + ')');
                    return;
                }
                try {
                    value = JSON.parse(text);
                } catch (e) {
                    damage = e.message;
                }
                if (!damage && (value === null || typeof value !== 'object' || value.format !== FILE_FORMAT ||
                                value.items === null || typeof value.items !== 'object' || Array.isArray(value.items))) {
                    damage = 'it holds no store';
                }
            }
            if (damage) {
                await this.setAside(damage);
                if (this.error) return;
                stats = null;
            } else {
                for (const key of Object.keys(value.items)) {
                    const itemText = JSON.stringify(value.items[key]);
                    if (itemText === undefined) continue;
                    items.set(key, encoded(itemText));
                    size += key.length + itemText.length;
                }
            }
        }
        this.items = items;
        this.size = size;
        ++this.version;
        this.writtenVersion = this.version;
        this.dropBase();
        this.fileStats = stats;
        this.loaded = true;
        this.error = null;
    }

    // Keeps a damaged file under another name, so nothing is lost and the store starts again.
    async setAside(damage) {
        const stamp = new Date().toISOString().replace(/[:.]/g, '-');
        const aside = this.file + '.damaged-' + stamp;
        try {
            await fs.promises.rename(this.file, aside);
            this.log('Server page storage: ' + this.file + ' could not be read (' + damage + '); it was kept as ' +
                aside + ' and the project starts with an empty store');
        } catch (e) {
            this.fail('the data of this project could not be read (' + damage + ') nor set aside (' + e.message + ')');
        }
    }

    // What a script gets: whether it may store, and why not.
    state() {
        return {
            available: this.available && !this.error,
            error: this.available ? this.error : null,
            version: this.version,
            size: this.size,
        };
    }

    // The items for the script processes: `base`, a block made at version `baseVersion` (a line
    // of JSON, the index {key: [offset, length]}, then the items' JSON texts one after the other,
    // offsets and lengths in characters of that text), and `changes`, the JSON object
    // {key: JSON text, or null when removed} of what changed since. Each is made once.
    forScripts() {
        if (!this.base) {
            const index = Object.create(null);
            const parts = [null];
            let offset = 0;
            for (const [key, item] of this.items) {
                index[key] = [offset, item.chars];
                parts.push(item.data);
                offset += item.chars;
            }
            parts[0] = Buffer.from(JSON.stringify(index) + '\n', 'utf8');
            const data = Buffer.concat(parts);
            this.base = { version: this.version, data };
            this.changes.clear();
            this.changesChars = 0;
            this.changesCache = null;
        }
        if (!this.changesCache || this.changesCache.version !== this.version) {
            const object = Object.create(null);
            for (const [key, itemText] of this.changes) object[key] = itemText;
            this.changesCache = { version: this.version, data: Buffer.from(JSON.stringify(object), 'utf8') };
        }
        return { baseVersion: this.base.version, base: this.base.data, changes: this.changesCache.data };
    }

    dropBase() {
        this.base = null;
        this.changes.clear();
        this.changesChars = 0;
        this.changesCache = null;
    }

    // Applies one request's changes ({key: JSON text, or null to remove}) as a whole, or none
    // of them when they break a limit (a StorageError); resolves once they are on disk.
    apply(changes) {
        if (!this.available || changes === null || typeof changes !== 'object' || Array.isArray(changes)) {
            return Promise.resolve();
        }
        const keys = Object.keys(changes);
        if (keys.length === 0) return Promise.resolve();
        if (this.error) return Promise.reject(new StorageError(this.error));
        let size = this.size;
        for (const key of keys) {
            const itemText = changes[key];
            if (itemText !== null && typeof itemText !== 'string') {
                return Promise.reject(new StorageError('a change of the item ' + JSON.stringify(key) + ' could not be read'));
            }
            const old = this.items.get(key);
            if (old !== undefined) size -= key.length + old.chars;
            if (itemText !== null) {
                if (key.length + itemText.length > ITEM_LIMIT) {
                    return Promise.reject(new StorageError(itemTooLarge(key, key.length + itemText.length)));
                }
                size += key.length + itemText.length;
            }
        }
        // A store already past the limit (a file made elsewhere) may still shrink.
        if (size > STORE_LIMIT && size > this.size) {
            return Promise.reject(new StorageError(storeTooLarge(size)));
        }
        let changed = false;
        for (const key of keys) {
            const itemText = changes[key];
            if (itemText === null) {
                if (!this.items.delete(key)) continue;
            } else {
                this.items.set(key, encoded(itemText));
            }
            changed = true;
            this.changes.set(key, itemText);
            this.changesChars += key.length + (itemText === null ? 0 : itemText.length);
        }
        if (this.changesChars > CHANGES_LIMIT) this.dropBase();
        if (!changed) return Promise.resolve();
        this.size = size;
        ++this.version;
        return this.persist(this.version);
    }

    persist(version) {
        return new Promise((resolve, reject) => {
            this.waiters.push({ version, resolve, reject });
            if (!this.writing) {
                this.writing = true;
                this.writeLoop();
            }
        });
    }

    // Writes the current items until the file holds the newest version; changes made during a
    // write go out together with the next one.
    async writeLoop() {
        try {
            while (this.writtenVersion < this.version) {
                const version = this.version;
                try {
                    await this.writeFile(this.fileParts());
                    this.writtenVersion = version;
                    this.settle(version, null);
                } catch (e) {
                    const message = 'the data could not be saved (' + e.message + ')';
                    this.log('Server page storage: ' + message);
                    this.settle(version, new StorageError(message));
                    return; // the next change tries again
                }
            }
        } finally {
            // At once, so that a change made right after the loop starts another.
            this.writing = false;
        }
    }

    settle(version, error) {
        const waiting = [];
        for (const waiter of this.waiters) {
            if (waiter.version > version) {
                waiting.push(waiter);
            } else if (error) {
                waiter.reject(error);
            } else {
                waiter.resolve();
            }
        }
        this.waiters = waiting;
    }

    // The file's bytes in parts: {"format": 1, "root": ..., "items": {key: value, ...}}. Small
    // parts are joined, so a store of many small items is written in few calls.
    fileParts() {
        const parts = [];
        let pending = '{"format":' + FILE_FORMAT + ',"root":' + JSON.stringify(this.root) + ',"items":{';
        let first = true;
        for (const [key, item] of this.items) {
            pending += (first ? '' : ',') + JSON.stringify(key) + ':';
            first = false;
            if (item.data.length < 65536) {
                pending += item.data.toString('utf8');
            } else {
                parts.push(Buffer.from(pending, 'utf8'), item.data);
                pending = '';
            }
            if (pending.length >= 65536) {
                parts.push(Buffer.from(pending, 'utf8'));
                pending = '';
            }
        }
        parts.push(Buffer.from(pending + '}}\n', 'utf8'));
        return parts;
    }

    async writeFile(parts) {
        await fs.promises.mkdir(this.folder, { recursive: true, mode: 0o700 });
        const temporary = this.file + '.' + process.pid + '.' + (++this.temporaryCounter) + '.tmp';
        let handle = null;
        try {
            handle = await fs.promises.open(temporary, 'wx', 0o600);
            const { bytesWritten } = await handle.writev(parts);
            const total = parts.reduce((sum, part) => sum + part.length, 0);
            if (bytesWritten !== total) throw new Error('only ' + bytesWritten + ' of ' + total + ' bytes were written');
            await handle.datasync();
            await handle.close();
            handle = null;
            await fs.promises.rename(temporary, this.file);
            this.fileStats = await fs.promises.stat(this.file);
        } catch (e) {
            if (handle) await handle.close().catch(() => {});
            await fs.promises.unlink(temporary).catch(() => {});
            throw e;
        }
    }
}

module.exports = { ProjectStore, StorageError, ITEM_LIMIT, STORE_LIMIT, storeFolder };
