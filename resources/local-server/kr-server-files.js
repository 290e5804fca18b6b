// The files of the runtime server: URL paths mapped to files without leaving the served
// folder, and the server page file (a page's map, its HTML template and its event handlers).
'use strict';

const fs = require('fs');
const path = require('path');

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
    if (!isInside(realRoot, realFile)) {
        throw new HTTPError(403, 'Forbidden: path leaves the served folder');
    }
    return { file: realFile, segments };
}

function isInside(realRoot, realFile) {
    return realFile === realRoot || realFile.startsWith(realRoot.endsWith(path.sep) ? realRoot : realRoot + path.sep);
}

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

module.exports = { HTTPError, confinedPath, isInside, parseXML, readServerPage };
