// The design agent: runs in the main world of every design view before the page's own
// scripts. It applies the mirror batches that the program sends (nodes addressed by the own
// DOM's numeric ids), defines the page's bridge objects under their script names, turns
// elements and events into node ids and plain data, and reports element geometry back.
//
// What a project puts on its pages is data here. The document's policy runs only scripts that
// carry the mark of the current load (the page's libraries and set-up scripts, the program's
// evaluations), never handler text or "javascript:" addresses; beyond that the agent leaves
// out what would load or run something of its own: frames and plug-in objects, scripts inside
// controls, refreshes and other head-only elements outside the head, handlers other than
// calls of the bridges, script addresses.
(function () {
    'use strict';
    if (window.___kr_agent)
        return;

    // The document's own functions, taken before anything of the page is in it: a name in the
    // page's markup (a picture or form named "createElement" or "head") makes the document
    // answer with that element, and a field named "appendChild" does so for its form.
    var documentProto = Document.prototype;
    var nodeProto = Node.prototype;
    var elementProto = Element.prototype;
    var getter = function (proto, name) { return Object.getOwnPropertyDescriptor(proto, name).get; };
    var dom = {
        createElement: documentProto.createElement,
        createTextNode: documentProto.createTextNode,
        createComment: documentProto.createComment,
        createTreeWalker: documentProto.createTreeWalker,
        elementFromPoint: documentProto.elementFromPoint,
        elementsFromPoint: documentProto.elementsFromPoint || null,
        head: getter(documentProto, 'head'),
        body: getter(documentProto, 'body'),
        documentElement: getter(documentProto, 'documentElement'),
        fonts: documentProto.hasOwnProperty('fonts') ? getter(documentProto, 'fonts') : null,
        appendChild: nodeProto.appendChild,
        insertBefore: nodeProto.insertBefore,
        removeChild: nodeProto.removeChild,
        replaceChild: nodeProto.replaceChild,
        getAttribute: elementProto.getAttribute,
        setAttribute: elementProto.setAttribute,
        removeAttribute: elementProto.removeAttribute,
        listen: EventTarget.prototype.addEventListener,
        unlisten: EventTarget.prototype.removeEventListener
    };
    function documentElement() { return dom.documentElement.call(document); }
    function documentHead() { return dom.head.call(document); }
    function documentBody() { return dom.body.call(document); }
    function newElement(tag) { return dom.createElement.call(document, tag); }
    function appendTo(parent, child) { return dom.appendChild.call(parent, child); }
    function removeFrom(parent, child) { return dom.removeChild.call(parent, child); }
    function listen(target, type, handler, capture) { dom.listen.call(target, type, handler, capture); }

    // An element's id is a property of the window where the window has none of its own. What
    // the window has through its prototypes (addEventListener, toString and the like) is made
    // its own, and so is what an element has and a window has not (nodeName, nodeType, which
    // libraries read to tell an element from the window), as nothing: no id on a page stands
    // in for either.
    var own = Object.prototype.hasOwnProperty;
    [HTMLElement.prototype, Element.prototype, Node.prototype, EventTarget.prototype, Object.prototype].forEach(function (proto) {
        Object.getOwnPropertyNames(proto).forEach(function (name) {
            if (name === '__proto__' || own.call(window, name) || own.call(Window.prototype, name))
                return;
            Object.defineProperty(window, name, { value: name in window ? window[name] : undefined, writable: true,
                                                  configurable: true });
        });
    });

    var nodes = new Map();      // own node id -> live node
    var ids = new WeakMap();    // live node -> own node id
    var host = null;            // the program's channel object "___kr_host"
    var channelObjects = null;  // every object of the channel, by name
    var pending = [];           // bridge calls made before the channel was connected
    var lastGeometry = new Map(); // node id -> last reported row text
    // The elements measured for the program: the controls' design elements and the nodes the
    // program asked for. Not every mirrored node: the content of a control (a box of HTML of
    // any size and depth) is laid out by the engine but never read by the program, and reading
    // the layout of hundreds of thousands of nested nodes takes many seconds a report.
    var controlIds = new Set(); // ids of mirrored elements carrying a control's click handler
    var askedIds = new Set();   // ids the program asked for, whether mirrored now or later
    var reportScheduled = false;
    var pressed = null;         // the element the primary button last went down on, until its click
    // Sizes that change with no change of the document (a transition, a font or picture that
    // arrives later, content that grows in a box sized by it) are measured again as they draw.
    var resizes = typeof ResizeObserver === 'function' ? new ResizeObserver(function () { scheduleReport(); }) : null;

    function register(id, node) {
        nodes.set(id, node);
        ids.set(node, id);
        if (node.nodeType === 1) {
            if (resizes)
                resizes.observe(node);
            noteControl(id, node);
        }
    }

    // An element carrying the click handler every control has on the surface is the design
    // element of a control.
    function isControlElement(el) {
        var click = dom.getAttribute.call(el, 'onclick');
        return !!click && click.indexOf('onClickElement_withEvent_') >= 0;
    }

    function noteControl(id, el) {
        if (isControlElement(el))
            controlIds.add(id);
        else
            controlIds.delete(id);
    }

    function forget(node) {
        var id = ids.get(node);
        if (id !== undefined) {
            nodes.delete(id);
            ids.delete(node);
            controlIds.delete(id);
        }
        if (resizes && node.nodeType === 1)
            resizes.unobserve(node);
        for (var c = node.firstChild; c; c = c.nextSibling)
            forget(c);
    }

    // The nearest node that the program knows: jQuery Mobile creates wrappers and inner
    // nodes of its own, which stand for their mirrored ancestor.
    function mirroredId(node) {
        for (var n = node; n; n = n.parentNode) {
            var id = ids.get(n);
            if (id !== undefined)
                return id;
        }
        return 0;
    }

    var scriptNonce = '';       // the mark of the scripts the program gives this document

    // Elements that would load or run something of their own: an inert stand-in takes their
    // place (and their node id; a frame's stand-in keeps its box).
    var framing = { iframe: 1, frame: 1, frameset: 1, object: 1, embed: 1, applet: 1, portal: 1, fencedframe: 1 };
    // Elements the page puts only in its head.
    var headOnly = { base: 1, link: 1, meta: 1 };
    var standInTag = 'kr-left-out';

    // Where an element is: 'head' (in the head), 'top' (the root, head and body, or right in
    // the body, where the page puts its own scripts) or 'content' (inside a control).
    function placeOf(parent) {
        if (!parent || parent === document || parent === documentElement() || parent === documentBody())
            return 'top';
        return parent === documentHead() ? 'head' : 'content';
    }

    function placeInside(element, place) {
        if (place === 'content')
            return 'content';
        var tag = element.localName;
        return tag === 'head' ? 'head' : tag === 'body' || tag === 'html' ? 'top' : 'content';
    }

    function isPlainMeta(attrs) {
        for (var i = 0; i < attrs.length; i += 2) {
            if (String(attrs[i]).toLowerCase() === 'http-equiv' && String(attrs[i + 1]).trim().toLowerCase() !== 'content-type')
                return false;
        }
        return true;
    }

    function createElement(tag, attrs, place) {
        var name = String(tag).toLowerCase();
        var refused = framing[name] || (headOnly[name] && place !== 'head') || (name === 'meta' && !isPlainMeta(attrs))
            || (name === 'script' && place === 'content');
        if (!refused) {
            var element = newElement(tag);
            if (name === 'script')
                element.setAttribute('nonce', scriptNonce);
            // A field here belongs to no form (a form attribute that names no element): a form
            // answers for its fields by their names and ids, so that a field named "parentNode"
            // or "submit" would stand in for the form's own properties.
            if (formFields[name])
                dom.setAttribute.call(element, 'form', '');
            return element;
        }
        var standIn = newElement(standInTag);
        standIn.setAttribute('data-kr-left-out', name);
        if (framing[name]) {
            var size = { width: name === 'iframe' ? '300' : '0', height: name === 'iframe' ? '150' : '0' };
            for (var i = 0; i < attrs.length; i += 2) {
                var key = String(attrs[i]).toLowerCase();
                if ((key === 'width' || key === 'height') && /^\s*\d+(\.\d+)?\s*(px|%)?\s*$/.test(attrs[i + 1]))
                    size[key] = String(attrs[i + 1]).trim();
            }
            standIn.style.display = 'inline-block';
            standIn.style.width = /\d$/.test(size.width) ? size.width + 'px' : size.width;
            standIn.style.height = /\d$/.test(size.height) ? size.height + 'px' : size.height;
        } else {
            standIn.hidden = true;
        }
        return standIn;
    }

    // The program's handlers call a bridge method with the element and the event; that is the
    // only handler an element gets, called from here (the document's policy runs no handler
    // text). The page bridge answers only the page's own scripts.
    var bridgeCall = /^\s*(?:window\.)?(___kr_[A-Za-z0-9_]+)\.([A-Za-z_][A-Za-z0-9_]*)\(\s*((?:this|event)(?:\s*,\s*(?:this|event))*)?\s*\)\s*;?\s*$/;

    function bridgeHandler(element, text, place) {
        var call = bridgeCall.exec(String(text));
        if (!call || !(call[1] === '___kr_dwc' || (call[1] === '___kr_page' && element.localName === 'script' && place !== 'content')))
            return null;
        var objectName = call[1];
        var method = call[2];
        var args = call[3] ? call[3].split(',').map(function (a) { return a.trim(); }) : [];
        return function (event) {
            var bridge = window[objectName];
            if (!bridge || typeof bridge[method] !== 'function')
                return undefined;
            var self = this;
            return bridge[method].apply(bridge, args.map(function (a) { return a === 'this' ? self : event; }));
        };
    }

    // A value that is a script address, however it is spelt ("java\tscript:", upper case).
    function isScriptAddress(value) {
        var v = String(value).replace(/[\u0000-\u0020\u007f-\u00a0]+/g, '').toLowerCase();
        return /^(javascript|vbscript|livescript):/.test(v) || v.lastIndexOf('data:text/html', 0) === 0;
    }

    var refusedAttributes = { srcdoc: 1, formaction: 1, action: 1, ping: 1, nonce: 1 };
    // The elements whose name the document and the window answer for (see "dom" above).
    var namedOnDocument = { img: 1, form: 1, embed: 1, object: 1, iframe: 1 };
    // The elements a form answers for by their names and ids: the fields, and pictures inside it.
    var formFields = { button: 1, fieldset: 1, input: 1, object: 1, output: 1, select: 1, textarea: 1 };
    var formProto = HTMLFormElement.prototype;

    // A name or id that would make the document, the window or a form answer with the element
    // for a property of its own.
    function isShadowingName(element, key, value) {
        var tag = element.localName;
        if (key === 'name')
            return !!namedOnDocument[tag];
        if (key === 'form')
            return !!formFields[tag];
        return key === 'id' && tag === 'img' && String(value) in formProto;
    }
    var standInAttributes = { id: 1, 'class': 1, style: 1, 'data-kr-left-out': 1 };

    // Sets an attribute as the own DOM has it, but for what would run or send something.
    function setAttribute(element, name, value, place) {
        var key = String(name).toLowerCase();
        if (element.localName === standInTag && !standInAttributes[key])
            return;
        if (key.lastIndexOf('on', 0) === 0) {
            var handler = bridgeHandler(element, value, place);
            if (!handler) {
                dom.removeAttribute.call(element, key);
                element[key] = null;
                return;
            }
            dom.setAttribute.call(element, name, value);
            element[key] = handler;
            return;
        }
        if (refusedAttributes[key] || isScriptAddress(value) || isShadowingName(element, key, value))
            return;
        dom.setAttribute.call(element, name, value);
    }

    function removeAttribute(element, name) {
        var key = String(name).toLowerCase();
        if (key === 'form' && formFields[element.localName])
            return;
        dom.removeAttribute.call(element, name);
        if (key.lastIndexOf('on', 0) === 0)
            element[key] = null;
    }

    // A script of the program (never of the project), run as the page's own scripts are, in
    // the global scope: thrown errors and syntax errors are thrown on.
    function evaluate(source) {
        var failure = null;
        var listener = function (event) {
            failure = event.error && event.error.message ? event.error.message : String(event.message);
            event.preventDefault();
        };
        var script = newElement('script');
        script.setAttribute('nonce', scriptNonce);
        script.text = source;
        listen(window, 'error', listener);
        try {
            appendTo(documentHead() || documentElement(), script);
        } finally {
            dom.unlisten.call(window, 'error', listener);
            if (script.parentNode)
                removeFrom(script.parentNode, script);
        }
        if (failure !== null)
            throw new Error(failure);
    }

    // tree: [id, 1, tag, [name, value, ...], [children]] | [id, 3, text] | [id, 8, text]
    function build(tree, place) {
        var node;
        if (tree[1] === 1) {
            var attrs = tree[3];
            node = createElement(tree[2], attrs, place);
            for (var i = 0; i < attrs.length; i += 2) {
                try {
                    setAttribute(node, attrs[i], attrs[i + 1], place);
                } catch (e) {
                    // a name the live DOM refuses changes nothing, as in the own DOM
                }
            }
            var kids = tree[4];
            var inner = placeInside(node, place);
            var into = node.content instanceof DocumentFragment ? node.content : node;
            for (var k = 0; k < kids.length; ++k)
                appendTo(into, build(kids[k], into === node ? inner : 'content'));
        } else if (tree[1] === 3) {
            node = dom.createTextNode.call(document, tree[2]);
        } else {
            node = dom.createComment.call(document, tree[2]);
        }
        register(tree[0], node);
        return node;
    }

    // The live document's element takes the id of the own document element; its children are
    // replaced by the own document's.
    function init(documentId, tree) {
        nodes.clear();
        if (resizes)
            resizes.disconnect();
        lastGeometry.clear();
        controlIds.clear();
        askedIds.clear();
        register(documentId, document);
        var root = documentElement();
        register(tree[0], root);
        while (root.attributes.length)
            dom.removeAttribute.call(root, root.attributes[0].name);
        var attrs = tree[3];
        for (var i = 0; i < attrs.length; i += 2)
            setAttribute(root, attrs[i], attrs[i + 1], 'top');
        while (root.firstChild)
            removeFrom(root, root.firstChild);
        var kids = tree[4];
        for (var k = 0; k < kids.length; ++k)
            appendTo(root, build(kids[k], 'top'));
    }

    // Removing a mirrored child whose live parent is a wrapper jQuery Mobile put around it
    // removes the wrapper too, unless the wrapper holds other mirrored nodes. What the widgets
    // of the removed nodes made beside them goes as well: otherwise a control rebuilt and
    // enhanced again would show its old widget parts next to the new ones.
    function removeLive(parent, node) {
        var parts = widgetParts(node);
        var top = node;
        while (top.parentNode && top.parentNode !== parent && ids.get(top.parentNode) === undefined)
            top = top.parentNode;
        if (top !== node && top.parentNode === parent && !holdsOtherMirrored(top, node))
            node = top;
        if (node.parentNode)
            removeFrom(node.parentNode, node);
        parts.forEach(function (part) {
            if (part.parentNode)
                removeFrom(part.parentNode, part);
        });
    }

    // The elements that the jQuery Mobile widgets on the node and inside it made outside it
    // (a flip switch's track after its select, a menu's pop-up, a list's filter form), found
    // through the widget instances, which keep them. Only elements of their own: never a
    // mirrored node, one that holds a mirrored node, or one that holds the node. An instance
    // may keep an inner part only (a filter keeps its field, not the form and the box with the
    // magnifier around it): the part goes with the wrappers made around it.
    function widgetParts(node) {
        var $ = window.jQuery;
        if (typeof $ !== 'function' || typeof $.hasData !== 'function' || typeof $.Widget !== 'function'
            || node.nodeType !== 1)
            return [];
        var found = [];
        var seen = new Set();
        var visitInstances = function (element, depth) {
            if (!$.hasData(element))
                return;
            var data = $.data(element);
            Object.keys(data).forEach(function (key) {
                var instance = data[key];
                if (instance instanceof $.Widget)
                    collect(instance, depth);
            });
        };
        var consider = function (value, depth) {
            if (!value || typeof value !== 'object')
                return;
            var elements = value instanceof $ ? value.toArray() : value.nodeType === 1 ? [value] : [];
            elements.forEach(function (element) {
                if (!element || element.nodeType !== 1 || seen.has(element))
                    return;
                seen.add(element);
                if (ids.get(element) !== undefined || element.contains(node) || node.contains(element)
                    || holdsMirrored(element))
                    return;
                found.push(outermostPart(element, node));
                if (depth < 3)
                    visitInstances(element, depth + 1); // a part that is a widget of its own (a pop-up)
            });
        };
        var collect = function (instance, depth) {
            Object.keys(instance).forEach(function (key) {
                var value = instance[key];
                if (!value || typeof value !== 'object' || value === window || value === document)
                    return;
                if (value instanceof $ || value.nodeType)
                    consider(value, depth);
                else if (Object.getPrototypeOf(value) === Object.prototype)
                    Object.keys(value).forEach(function (k) { consider(value[k], depth); }); // "_ui" and the like
            });
        };
        visitInstances(node, 0);
        var inside = node.getElementsByTagName('*');
        for (var i = 0; i < inside.length; ++i)
            visitInstances(inside[i], 0);
        return found;
    }

    // The outermost element around a widget's part that is still the widget's own.
    function outermostPart(element, node) {
        var part = element;
        for (var up = part.parentNode; up && up.nodeType === 1 && ids.get(up) === undefined && !up.contains(node)
             && !holdsMirrored(up); up = up.parentNode)
            part = up;
        return part;
    }

    function holdsMirrored(element) {
        var walker = dom.createTreeWalker.call(document, element, NodeFilter.SHOW_ALL);
        for (var n = walker.nextNode(); n; n = walker.nextNode()) {
            if (ids.get(n) !== undefined)
                return true;
        }
        return false;
    }

    function holdsOtherMirrored(wrapper, node) {
        var walker = dom.createTreeWalker.call(document, wrapper, NodeFilter.SHOW_ALL);
        for (var n = walker.nextNode(); n; n = walker.nextNode()) {
            if (n === node) {
                // skip the node's own subtree
                var next = n;
                while (next && !next.nextSibling && next !== wrapper)
                    next = next.parentNode;
                if (!next || next === wrapper)
                    return false;
                walker.currentNode = next;
                continue;
            }
            if (ids.get(n) !== undefined)
                return true;
        }
        return false;
    }

    function ruleOf(styleElement, index) {
        var sheet = styleElement.sheet;
        return sheet && index >= 0 && index < sheet.cssRules.length ? sheet.cssRules[index] : null;
    }

    function setStyle(op, remove) {
        var el = nodes.get(op.n);
        if (!el)
            return;
        var decl;
        if (op.x !== undefined && op.x >= 0) {
            var rule = ruleOf(el, op.x);
            if (!rule)
                return;
            if (op.k === 'selectorText') {
                rule.selectorText = op.v;
                return;
            }
            if (op.k === 'cssText') {
                if (rule.style)
                    rule.style.cssText = op.v;
                return;
            }
            decl = rule.style;
        } else {
            decl = el.style;
        }
        if (!decl)
            return;
        if (remove)
            decl.removeProperty(op.k);
        else
            decl.setProperty(op.k, op.v, op.p || '');
    }

    function applyOne(op) {
        var el, node;
        switch (op.o) {
        case 'init':
            init(op.d, op.t);
            break;
        case 'i': {
            var parent = nodes.get(op.p);
            if (!parent)
                return;
            var existing = nodes.get(op.t[0]);
            if (existing)
                forget(existing);
            node = build(op.t, placeOf(parent));
            if (parent === document) {
                if (documentElement() && node.nodeType === 1)
                    dom.replaceChild.call(document, node, documentElement());
                else
                    appendTo(document, node);
                break;
            }
            // Next to the live position of the following sibling: when jQuery Mobile wrapped
            // it, before its outermost wrapper inside the parent.
            var before = op.b ? nodes.get(op.b) : null;
            while (before && before.parentNode && before.parentNode !== parent && ids.get(before.parentNode) === undefined)
                before = before.parentNode;
            if (before && before.parentNode)
                dom.insertBefore.call(before.parentNode, node, before);
            else
                appendTo(parent.content instanceof DocumentFragment ? parent.content : parent, node);
            break;
        }
        case 'r':
            node = nodes.get(op.n);
            if (!node)
                return;
            removeLive(nodes.get(op.p), node);
            forget(node);
            break;
        case 'a':
            el = nodes.get(op.n);
            if (el && el.nodeType === 1) {
                setAttribute(el, op.k, op.v, placeOf(el.parentNode));
                noteControl(op.n, el);
            }
            break;
        case 'ar':
            el = nodes.get(op.n);
            if (el && el.nodeType === 1) {
                removeAttribute(el, op.k);
                noteControl(op.n, el);
            }
            break;
        case 'm':
            op.n.forEach(function (id) { askedIds.add(Number(id)); });
            break;
        case 't':
            node = nodes.get(op.n);
            if (node)
                node.data = op.v;
            break;
        case 's':
            setStyle(op, false);
            break;
        case 'sr':
            setStyle(op, true);
            break;
        case 'ca':
            el = nodes.get(op.n);
            if (el && el.classList)
                el.classList.add(op.k);
            break;
        case 'cr':
            el = nodes.get(op.n);
            if (el && el.classList)
                el.classList.remove(op.k);
            break;
        case 'ri':
            el = nodes.get(op.n);
            if (el && el.sheet)
                el.sheet.insertRule(op.v, Math.min(op.x, el.sheet.cssRules.length));
            break;
        case 'rd':
            el = nodes.get(op.n);
            if (el && el.sheet && op.x < el.sheet.cssRules.length)
                el.sheet.deleteRule(op.x);
            break;
        case 'e':
            evaluate(op.v);
            break;
        }
    }

    // One batch: every operation in order; a failing one is reported and the rest go on.
    function apply(sequence, ops, nonce) {
        if (typeof nonce === 'string')
            scriptNonce = nonce;
        var errors = [];
        for (var i = 0; i < ops.length; ++i) {
            try {
                applyOne(ops[i]);
            } catch (e) {
                errors.push(String(ops[i].o) + ': ' + (e && e.message ? e.message : String(e)));
            }
        }
        if (host) {
            if (errors.length)
                host.agentErrors(errors);
            var rows = measure();
            host.batchApplied(sequence, rows);
        }
    }

    function row(id, el) {
        var r = el.getBoundingClientRect();
        return [id, el.offsetLeft || 0, el.offsetTop || 0, el.offsetWidth || 0, el.offsetHeight || 0,
                el.scrollWidth || 0, el.scrollHeight || 0, el.clientWidth || 0, el.clientHeight || 0,
                r.left, r.top, r.width, r.height];
    }

    // The rows of the measured elements whose geometry changed since the last report.
    function measure() {
        var rows = [];
        var seen = new Set();
        var measureOne = function (id) {
            var node = nodes.get(id);
            if (!node || node.nodeType !== 1 || !node.isConnected || seen.has(id))
                return;
            var r = row(id, node);
            var text = r.join(',');
            seen.add(id);
            if (lastGeometry.get(id) !== text) {
                lastGeometry.set(id, text);
                rows.push(r);
            }
        };
        controlIds.forEach(measureOne);
        askedIds.forEach(measureOne);
        lastGeometry.forEach(function (text, id) {
            if (!seen.has(id)) {
                lastGeometry.delete(id);
                rows.push([id]);
            }
        });
        return rows;
    }

    // The page changed itself (jQuery Mobile enhancing, images and style sheets arriving):
    // measure again once the current task is done. Microtasks, not timers: hidden views
    // throttle timers.
    function scheduleReport() {
        if (reportScheduled || !host)
            return;
        reportScheduled = true;
        Promise.resolve().then(function () {
            reportScheduled = false;
            var rows = measure();
            if (rows.length)
                host.geometryChanged(rows);
        });
    }

    function eventData(event) {
        if (!event || typeof event !== 'object')
            return {};
        var d = {
            type: event.type || '',
            clientX: event.clientX || 0, clientY: event.clientY || 0,
            pageX: event.pageX || 0, pageY: event.pageY || 0,
            screenX: event.screenX || 0, screenY: event.screenY || 0,
            offsetX: event.offsetX || 0, offsetY: event.offsetY || 0,
            button: event.button || 0, buttons: event.buttons || 0, detail: event.detail || 0,
            shiftKey: !!event.shiftKey, ctrlKey: !!event.ctrlKey, altKey: !!event.altKey,
            metaKey: !!event.metaKey,
            target: 0, targetTag: '', targetDataRole: '',
            hit: 0, hitTag: '', hitDataRole: ''
        };
        var t = event.target;
        if (t && t.nodeType) {
            d.target = mirroredId(t);
            var te = t.nodeType === 1 ? t : t.parentElement;
            if (te) {
                d.targetTag = te.tagName;
                d.targetDataRole = te.getAttribute('data-role') || '';
            }
        }
        if (event.type === 'mousedown' || event.type === 'mouseup' || event.type === 'mousemove') {
            var hit = dom.elementFromPoint.call(document, d.clientX, d.clientY);
            if (hit) {
                d.hit = mirroredId(hit);
                d.hitTag = hit.tagName;
                d.hitDataRole = hit.getAttribute('data-role') || '';
            }
        }
        // A click's target is the nearest common ancestor of where the button went down and
        // where it came up, which says little when the page changed under the pointer in
        // between; the element of the press tells what the click began on.
        if (event.type === 'click' && pressed) {
            d.press = mirroredId(pressed);
            d.pressTag = pressed.tagName || '';
            d.pressDataRole = (pressed.getAttribute && pressed.getAttribute('data-role')) || '';
        }
        if (event.dataTransfer) {
            d.types = Array.prototype.slice.call(event.dataTransfer.types || []);
        }
        return d;
    }

    function call(objectName, method, args) {
        if (!channelObjects) {
            pending.push([objectName, method, args]);
            return;
        }
        host.invoke(objectName, method, args);
    }

    // Methods that cancel the event's default action in the page, where the design surface
    // does: a click or double click on a control, and drag enter and over (to accept drops).
    var cancels = {
        onClickElement_withEvent_: true, onDoubleClickElement_withEvent_: true,
        onDragEnter_: true, onDragOver_: true
    };

    function defineBridge(objectName, eventMethods, elementEventMethods, plainMethods) {
        var bridge = {};
        eventMethods.forEach(function (m) {
            bridge[m] = function (event) {
                if (cancels[m] && event && event.preventDefault)
                    event.preventDefault();
                call(objectName, m, [eventData(event)]);
            };
        });
        elementEventMethods.forEach(function (m) {
            bridge[m] = function (element, event) {
                if (cancels[m] && event && event.preventDefault)
                    event.preventDefault();
                call(objectName, m, [element && element.nodeType ? mirroredId(element) : 0, eventData(event)]);
            };
        });
        plainMethods.forEach(function (m) {
            bridge[m] = function () {
                call(objectName, m, []);
            };
        });
        Object.defineProperty(window, objectName, { value: Object.freeze(bridge), writable: false, configurable: false });
    }

    defineBridge('___kr_page', [], [], ['jqueryLoaded', 'jqueryMobileLoaded', 'libraryFailedToLoad']);
    defineBridge('___kr_dwc',
                 ['onClickBody_', 'onDoubleClickBody_', 'onDragEnter_', 'onDragOver_', 'onMouseDown_',
                  'onMouseUp_', 'onMouseMove_'],
                 ['onClickElement_withEvent_', 'onDoubleClickElement_withEvent_', 'onDragStart_withEvent_',
                  'onDrag_withEvent_', 'onDragEnd_withEvent_'],
                 ['runPluginDesignDraw']);

    // A box or handle that moves or resizes its control.
    function dragTarget(el) {
        return el && el.nodeType === 1 && el.getAttribute('data-kr-drag') === 'true' ? el : null;
    }

    // The design element of the control an element belongs to (the nearest with the click
    // handler every control carries on the surface); null outside controls.
    function controlOf(el) {
        for (var n = el; n && n.nodeType === 1; n = n.parentNode) {
            if (isControlElement(n))
                return n;
        }
        return null;
    }

    // The selection box an element is, or is a handle of; null for any other element.
    function boxOf(el) {
        for (var n = el; n && n.nodeType === 1; n = n.parentNode) {
            if (n.hasAttribute('data-kr-box'))
                return n;
        }
        return null;
    }

    // What a press at the point is on. A selection box lies above every control; where another
    // control than the surrounded one is drawn above that one, a built page (which has no
    // boxes) gives the press to that control, and so does the surface. The box keeps the
    // press on its own control (a move), on its handles (a resize) and where nothing else is.
    function pressTarget(x, y) {
        var under = dom.elementsFromPoint ? dom.elementsFromPoint.call(document, x, y) : [];
        if (!under.length)
            return dom.elementFromPoint.call(document, x, y);
        var top = under[0];
        var box = boxOf(top);
        if (!box || top !== box)
            return top;
        var surrounded = nodes.get(Number(box.getAttribute('data-kr-box'))) || null;
        for (var i = 1; i < under.length; ++i) {
            if (boxOf(under[i]))
                continue;
            var control = controlOf(under[i]);
            if (!control || !surrounded || control === surrounded || surrounded.contains(control))
                return top;
            return under[i];
        }
        return top;
    }

    // Moving and resizing: a press on a selection box or handle of a draggable control drives
    // the surface's drag operations with pointer events. The pointer is captured, so the drag
    // goes on outside the box, and no engine drag or text selection starts.
    //
    // A press on a control that is not selected yet selects it (the program answers the press
    // report) and its box then appears under the pointer while the button is still down: when
    // the pointer has moved a few pixels and a box lies where the press was, the drag goes on
    // as a move of that box from the press point.
    function listenForBoxDrags() {
        var grabbed = null;
        var waiting = null; // {pointerId, x, y} of a press that may turn into a move
        var slop = 3;
        var start = function (el, event) {
            grabbed = el;
            try { el.setPointerCapture(event.pointerId); } catch (e) { /* the pointer is gone */ }
            window.___kr_dwc.onDragStart_withEvent_(el, event);
        };
        // The press turns into a move once its control's box has come; true when it did.
        var adopt = function (event) {
            if (!waiting || event.pointerId !== waiting.pointerId
                || Math.abs(event.clientX - waiting.x) + Math.abs(event.clientY - waiting.y) < slop)
                return false;
            var box = dragTarget(dom.elementFromPoint.call(document, waiting.x, waiting.y));
            if (!box)
                return false;
            if (box.hasAttribute('data-kr-handle'))
                box = box.parentNode; // a handle at the press point: still a move, never a resize
            var at = { type: 'pointerdown', clientX: waiting.x, clientY: waiting.y, pointerId: event.pointerId,
                       shiftKey: event.shiftKey, ctrlKey: event.ctrlKey, altKey: event.altKey, metaKey: event.metaKey };
            waiting = null;
            start(box, at);
            window.___kr_dwc.onDrag_withEvent_(box, event);
            return true;
        };
        listen(document, 'pointerdown', function (event) {
            waiting = null;
            if (event.button !== 0)
                return;
            var el = dragTarget(event.target);
            // A box over a control drawn above the one it surrounds: a press on that control.
            if (el && pressTarget(event.clientX, event.clientY) !== event.target)
                el = null;
            if (!el) {
                waiting = { pointerId: event.pointerId, x: event.clientX, y: event.clientY };
                return;
            }
            event.preventDefault();
            event.stopPropagation();
            start(el, event);
        }, true);
        // Raw updates arrive as the pointer moves, not once per frame as moves do: the box
        // then follows within the frame.
        var raw = 'onpointerrawupdate' in window;
        listen(document, raw ? 'pointerrawupdate' : 'pointermove', function (event) {
            if (grabbed)
                window.___kr_dwc.onDrag_withEvent_(grabbed, event);
            else
                adopt(event);
        }, true);
        listen(document, 'pointermove', function (event) {
            if (grabbed)
                event.preventDefault();
        }, true);
        var end = function (event) {
            if (!grabbed && !(event.type === 'pointerup' && adopt(event))) {
                waiting = null;
                return;
            }
            var el = grabbed;
            grabbed = null;
            waiting = null;
            window.___kr_dwc.onDragEnd_withEvent_(el, event);
        };
        listen(document, 'pointerup', end, true);
        listen(document, 'pointercancel', end, true);
    }

    // The window's presses: the element under the pointer goes to the program before the
    // page's own handlers run (it selects the control there). The press's default action is
    // cancelled: a design page starts no text selection, engine drag, focus or pop-up of its
    // own. The click that follows carries the element of its press.
    function listenForPresses() {
        listen(window, 'pointerdown', function (event) {
            if (event.button !== 0 || !event.isPrimary)
                return;
            pressed = event.target && event.target.nodeType === 1 ? event.target : null;
            var hit = pressTarget(event.clientX, event.clientY) || pressed;
            if (hit && pressed && boxOf(pressed) && !boxOf(hit))
                pressed = hit;
            host.pressed(hit ? mirroredId(hit) : 0, eventData(event));
        }, true);
        listen(window, 'mousedown', function (event) {
            if (event.button === 0)
                event.preventDefault();
        }, true);
        listen(window, 'click', function () {
            pressed = null;
        }, false);
    }

    function connected(channel) {
        channelObjects = channel.objects;
        host = channel.objects.___kr_host;
        var queued = pending;
        pending = [];
        queued.forEach(function (c) { call(c[0], c[1], c[2]); });
        new MutationObserver(scheduleReport).observe(document, {
            subtree: true, childList: true, attributes: true, characterData: true
        });
        listen(document, 'load', scheduleReport, true);
        // The engine's own context menu never shows; the program builds one for the node.
        listen(document, 'contextmenu', function (event) {
            event.preventDefault();
            host.contextMenu(mirroredId(event.target), eventData(event));
        }, true);
        listen(window, 'resize', function () {
            scheduleReport();
            // Another device: the widgets that size themselves to their content (a text area)
            // measure again, as on a page opened on that device.
            var $ = window.jQuery;
            if (typeof $ === 'function' && $.mobile && documentBody())
                $(documentBody()).trigger('updatelayout');
        });
        var fonts = dom.fonts ? dom.fonts.call(document) : null;
        if (fonts)
            listen(fonts, 'loadingdone', scheduleReport);
        listenForPresses();
        listenForBoxDrags();
        host.agentReady(location.href);
    }

    function connect() {
        if (channelObjects || window.___kr_agent.connecting)
            return true;
        if (!(window.qt && window.qt.webChannelTransport) || typeof QWebChannel !== 'function')
            return false;
        window.___kr_agent.connecting = true;
        new QWebChannel(window.qt.webChannelTransport, connected);
        return true;
    }

    // Any other host object: every method name forwards its arguments as they are.
    function defineHostObject(name) {
        if (name in window)
            return;
        window[name] = new Proxy({}, {
            get: function (target, method) {
                return typeof method !== 'string' ? undefined : function () {
                    call(name, method, Array.prototype.slice.call(arguments));
                };
            }
        });
    }

    Object.defineProperty(window, '___kr_agent', {
        value: { apply: apply, defineHostObject: defineHostObject, nodeId: mirroredId, node: function (id) { return nodes.get(id) || null; },
                 connecting: false },
        writable: false, configurable: false
    });

    if (!connect()) {
        var tries = 0;
        var retry = function () {
            if (!connect() && ++tries < 200)
                setTimeout(retry, 10);
        };
        listen(document, 'DOMContentLoaded', retry);
        setTimeout(retry, 0);
    }
})();
