/*
 * KRObjects.js: the object runtime of applications built with Korvane.
 *
 * The generated "KR-user-scripts.js" creates `window.application = new KRApplication({...})`,
 * one `KRPage` per page and, each time a page is shown, one object per page object:
 *
 *   application._pages.P = new KRPage("P");
 *   (function(p) {
 *     p._pageURL = "P.html";
 *     application._pages.P._events.F = function(event) { ... };
 *     $(document).off('_kr_pagechange', '#P').on('_kr_pagechange', '#P', function() {
 *       p._load(function(o) {
 *         p.onLoad = application._pages.P._events.F;
 *         o.O = new KRLabel("P_O");
 *         o.O.top = "10";
 *       });
 *     });
 *   })(application._pages.P);
 *
 * Constructors only remember the element id: properties arrive after construction, so every
 * object is set up (`_setup`) once the `_load` callback has returned. Needs jQuery 1.9 and
 * jQuery Mobile 1.4 (1.3 works where the widgets allow). Logs only through console.log,
 * because the device preview replaces `console` with an object that has nothing else.
 */
(function (window, $) {
    'use strict';

    var document = window.document;

    // ---------------------------------------------------------------- helpers

    function log(message) {
        var c = window.console;
        if (c && typeof c.log === 'function')
            c.log('KRObjects: ' + message);
    }

    // A failure in user code is logged and then rethrown on its own turn, so the browser
    // reports it like any uncaught error while the runtime goes on with its work.
    function report(error, context) {
        log('error in ' + context + ': ' + (error && error.message ? error.message : error));
        window.setTimeout(function () { throw error; }, 0);
    }

    function inherit(Child, Parent) {
        Child.prototype = Object.create(Parent.prototype);
        Child.prototype.constructor = Child;
        return Child;
    }

    function isEmpty(v) {
        return v === undefined || v === null || v === '';
    }

    function toBoolean(v, fallback) {
        if (v === undefined || v === null || v === '')
            return fallback;
        if (typeof v === 'string')
            return v.toLowerCase() === 'true';
        return !!v;
    }

    function toNumber(v, fallback) {
        var n = typeof v === 'number' ? v : parseFloat(v);
        return isFinite(n) ? n : fallback;
    }

    // A CSS length from a stored geometry value: bare numbers are pixels, anything with a
    // unit ("50%", "2em", "12px") is used as it stands.
    function cssLength(v) {
        if (isEmpty(v))
            return '';
        var s = String(v).replace(/^\s+|\s+$/g, '');
        return /^-?(\d+\.?\d*|\.\d+)$/.test(s) ? s + 'px' : s;
    }

    // A form answers for its fields by name, and the document for its named pictures, forms,
    // frames and objects, ahead of their own members: a field named "setAttribute" stands where
    // the form's method is, a picture named "head" where the document's head is. The runtime
    // reaches every member of a form or of the document here, on the object's prototypes, which
    // no name reaches: with `args`, the method called with them; without, the member's value
    // (a property read through its getter, a method as the function it is).
    function dom(object, name, args) {
        for (var p = Object.getPrototypeOf(object); p; p = Object.getPrototypeOf(p)) {
            var d = Object.getOwnPropertyDescriptor(p, name);
            if (!d)
                continue;
            var member = d.get ? d.get.call(object) : d.value;
            return args ? member.apply(object, args) : member;
        }
        return undefined;
    }

    function byId(id) {
        return dom(document, 'getElementById', [id]);
    }

    function makeElement(tag) {
        return dom(document, 'createElement', [tag]);
    }

    function makeText(text) {
        return dom(document, 'createTextNode', [text]);
    }

    function $byId(id) {
        return $(byId(id) || []);
    }

    // Sets a data attribute only for a non-empty value (like the design-time markup).
    function setData(el, name, value) {
        if (!isEmpty(value))
            el.setAttribute('data-' + name, String(value));
    }

    function widgetCall($el, widget, method) {
        try {
            if ($el.length && typeof $el[widget] === 'function' && $el.data('mobile-' + widget))
                $el[widget](method);
            else if ($el.length && typeof $el[widget] === 'function' && $el.data(widget))
                $el[widget](method);
        } catch (e) {
            // Not enhanced yet: the markup is correct and jQuery Mobile picks it up later.
        }
    }

    function enhance($el) {
        if (!$el.length)
            return;
        try {
            if (typeof $el.enhanceWithin === 'function')
                $el.enhanceWithin();
            else
                $el.trigger('create');
        } catch (e) {
            log('could not enhance #' + ($el.attr('id') || '') + ': ' + e.message);
        }
    }

    function parseList(v) {
        if (isEmpty(v))
            return [];
        if (typeof v === 'string') {
            try { v = JSON.parse(v); } catch (e) { return []; }
        }
        if (v && !$.isArray(v) && $.isArray(v.items))
            v = v.items;
        if (!$.isArray(v))
            return [];
        var out = [];
        for (var i = 0; i < v.length; i++) {
            if (v[i] && typeof v[i] === 'object')
                out.push(v[i]);
        }
        return out;
    }

    // Calls an event handler with the object as `this`. Answers false when the handler
    // returned false or failed, which cancels what would follow (a page change, a submit).
    function callHandler(handler, target, args, context) {
        if (typeof handler !== 'function')
            return true;
        try {
            return handler.apply(target, args || []) !== false;
        } catch (e) {
            report(e, context);
            return false;
        }
    }

    function application() {
        return window.application;
    }

    // jQuery Mobile sizes a page by its content box, while built pages make every div a
    // border box: the page would come out shorter than the screen by its toolbar padding.
    function installPageStyle() {
        if (byId('kr-runtime-style'))
            return;
        var style = makeElement('style');
        style.id = 'kr-runtime-style';
        style.appendChild(makeText(
            '.ui-page { -webkit-box-sizing: content-box; box-sizing: content-box; }'));
        (dom(document, 'head') || dom(document, 'documentElement')).appendChild(style);
    }

    // ------------------------------------------------------------ application

    function KRApplication(options) {
        options = options || {};
        this._deviceMap = options._deviceMap || {};
        this._jqm = options._jqm === undefined ? true : !!options._jqm;
        this._jqmAJAX = !!options._jqmAJAX;
        this._singlePageDeploy = !!options._singlePageDeploy;
        this._pages = {};
        this._deviceID = this._chooseDevice();
        this._currentPage = null;
        this._pendingPage = null;
        this._watchdogTimer = null;
        this._startWatchdog();
    }

    KRApplication.watchdogInterval = 1000;

    // Picks the device of `_deviceMap` whose size or screen size is nearest to the
    // viewport or screen (orientation ignored). In the device preview the viewport has
    // exactly the device's size; on a phone the screen has the device's screen size.
    KRApplication.prototype._chooseDevice = function (sizes) {
        var ids = [];
        for (var id in this._deviceMap) {
            if (Object.prototype.hasOwnProperty.call(this._deviceMap, id))
                ids.push(id);
        }
        if (!ids.length)
            return null;
        if (!sizes) {
            sizes = [];
            if (window.innerWidth > 0 && window.innerHeight > 0)
                sizes.push([window.innerWidth, window.innerHeight]);
            var scr = window.screen;
            if (scr && scr.width > 0 && scr.height > 0)
                sizes.push([scr.width, scr.height]);
        }
        var best = ids[0], bestScore = Infinity;
        for (var i = 0; i < ids.length; i++) {
            var d = this._deviceMap[ids[i]] || {};
            var candidates = [[d.width, d.height], [d.screenWidth, d.screenHeight]];
            for (var c = 0; c < candidates.length; c++) {
                var dw = toNumber(candidates[c][0], 0), dh = toNumber(candidates[c][1], 0);
                if (!(dw > 0 && dh > 0))
                    continue;
                for (var s = 0; s < sizes.length; s++) {
                    var w = sizes[s][0], h = sizes[s][1];
                    var score = Math.abs(Math.min(w, h) - Math.min(dw, dh)) +
                        Math.abs(Math.max(w, h) - Math.max(dw, dh));
                    if (score < bestScore) {
                        bestScore = score;
                        best = ids[i];
                    }
                }
            }
        }
        return best;
    };

    // The value of a per-device property for the running device: a plain value as it is;
    // an object keyed by device id gives the device's entry, else the first non-empty entry
    // in device order, else the first non-empty entry at all.
    KRApplication.prototype._deviceValue = function (v) {
        if (v === undefined || v === null)
            return '';
        if (typeof v !== 'object')
            return String(v);
        if (this._deviceID && !isEmpty(v[this._deviceID]))
            return String(v[this._deviceID]);
        var k;
        for (k in this._deviceMap) {
            if (Object.prototype.hasOwnProperty.call(v, k) && !isEmpty(v[k]))
                return String(v[k]);
        }
        for (k in v) {
            if (Object.prototype.hasOwnProperty.call(v, k) && !isEmpty(v[k]))
                return String(v[k]);
        }
        return '';
    };

    // Runs on every "pagechange" and "pagebeforeshow" of the document (the generated header
    // binds it). A page is set up once per showing: on its "pagebeforeshow", so its objects
    // exist before it appears; the "pagechange" that follows is ignored. Without a
    // "pagebeforeshow" seen yet, the active page is the one shown.
    KRApplication.prototype._pageChange = function (page) {
        this._watchdog();
        var el = page && page.jquery ? page[0] : page;
        if (!el)
            el = this._pendingPage;
        this._pendingPage = null;
        if (!el && !this._currentPage && $.mobile && $.mobile.activePage)
            el = $.mobile.activePage[0];
        if (!el || el === this._currentPage)
            return;
        this._currentPage = el;
        $(el).trigger('_kr_pagechange');
    };

    KRApplication.prototype._pageForID = function (pageID) {
        return Object.prototype.hasOwnProperty.call(this._pages, pageID) ? this._pages[pageID] : null;
    };

    KRApplication.prototype._urlForPage = function (pageID) {
        if (this._singlePageDeploy)
            return '#' + pageID;
        var page = this._pageForID(pageID);
        return page && page._pageURL ? page._pageURL : pageID + '.html';
    };

    // Opens a page: "(back)" goes back in the history; a single-page build changes to the
    // page's div, a build with Ajax page loading lets jQuery Mobile load the page's file,
    // any other build loads the file as a new document (no transition is possible then).
    KRApplication.prototype.gotoPage = function (pageID, transition) {
        if (isEmpty(pageID))
            return;
        pageID = String(pageID);
        if (pageID === '(back)') {
            this.goBack();
            return;
        }
        var url = this._urlForPage(pageID);
        var mobile = $.mobile;
        if (this._jqm && mobile && typeof mobile.changePage === 'function' &&
            (this._singlePageDeploy || this._jqmAJAX)) {
            var options = {};
            if (!isEmpty(transition))
                options.transition = String(transition);
            if (this._singlePageDeploy && !byId(pageID)) {
                log('page "' + pageID + '" is not part of this application');
                return;
            }
            mobile.changePage(this._singlePageDeploy ? $(byId(pageID)) : url, options);
            return;
        }
        this._assignLocation(url);
    };

    KRApplication.prototype.goBack = function () {
        var mobile = $.mobile;
        if (this._jqm && mobile && typeof mobile.back === 'function' &&
            (this._singlePageDeploy || this._jqmAJAX))
            mobile.back();
        else
            this._historyBack();
    };

    KRApplication.prototype._assignLocation = function (url) {
        window.location.assign(url);
    };

    KRApplication.prototype._historyBack = function () {
        window.history.back();
    };

    // The device preview installs `__kr_controller` and closes the window when it has not
    // heard from the page for five seconds, so the page pings it every second while its
    // scripts leave the event loop free. The bridge may appear after start-up.
    KRApplication.prototype._watchdog = function () {
        var controller = window.__kr_controller;
        if (!controller || typeof controller.jsWatchdog !== 'function')
            return;
        try {
            controller.jsWatchdog();
        } catch (e) {
            // The bridge went away with the window; nothing to tell.
        }
    };

    KRApplication.prototype._startWatchdog = function () {
        var self = this;
        this._watchdog();
        this._watchdogTimer = window.setInterval(function () { self._watchdog(); },
            KRApplication.watchdogInterval);
    };

    // ------------------------------------------------------------------- page

    // Page members that page objects must not replace when they are exposed on the page.
    var pageMembers = {
        _id: 1, _events: 1, _pageURL: 1, _objects: 1, _load: 1, _unload: 1, form: 1,
        constructor: 1
    };

    function KRPage(id) {
        this._id = id;
        this._events = {};
        this._pageURL = id + '.html';
        this._objects = {};
        this._bound = [];
    }

    KRPage.prototype._element = function () {
        return byId(this._id);
    };

    KRPage.prototype._formElement = function () {
        return byId('_form_' + this._id);
    };

    // Builds the page's objects through `fn(o)`, then sets up every object (properties have
    // all arrived by then), then the page's own events; last the page's onLoad handler.
    KRPage.prototype._load = function (fn) {
        this._unload();
        var o = {}, key, obj;
        try {
            fn.call(this, o);
        } catch (e) {
            report(e, 'the objects of page "' + this._id + '"');
        }
        this._objects = o;
        var list = [];
        for (key in o) {
            if (!Object.prototype.hasOwnProperty.call(o, key))
                continue;
            obj = o[key];
            if (!(obj instanceof KRObject))
                continue;
            obj._attach(this, key);
            list.push(obj);
            if (!pageMembers[key] && (!(key in this) || this[key] instanceof KRObject))
                this[key] = obj;
        }
        for (var i = 0; i < list.length; i++) {
            try {
                list[i]._setup();
            } catch (e) {
                report(e, 'setting up "' + list[i]._id + '"');
            }
        }
        this._setupPage();
        callHandler(this.onLoad, this, [$.Event('load', { target: this._element() })],
            'onLoad of page "' + this._id + '"');
    };

    // Tears down the objects of the previous showing (timers, handlers, generated markup).
    KRPage.prototype._unload = function () {
        for (var key in this._objects) {
            var obj = this._objects[key];
            if (obj instanceof KRObject) {
                try { obj._teardown(); } catch (e) { log('teardown of ' + key + ': ' + e.message); }
                if (this[key] === obj)
                    delete this[key];
            }
        }
        this._objects = {};
        for (var i = 0; i < this._bound.length; i++)
            this._bound[i].off('.krpage');
        this._bound = [];
    };

    KRPage.prototype._bind = function ($target, events, handler) {
        if (!$target.length)
            return;
        $target.on(events.replace(/(\S+)/g, '$1.krpage'), handler);
        this._bound.push($target);
    };

    KRPage.prototype._setupPage = function () {
        var self = this, el = this._element(), $el = $(el || []);
        var app = application();
        if (el && app && this.backgroundImage !== undefined) {
            var image = app._deviceValue(this.backgroundImage);
            if (image)
                el.style.setProperty('background-image', 'url("' + image.replace(/"/g, '\\"') + '")', 'important');
        }
        var pageEvents = { onClick: 'click', onTouchStart: 'touchstart', onTouchMove: 'touchmove',
            onTouchEnd: 'touchend' };
        $.each(pageEvents, function (prop, type) {
            if (typeof self[prop] === 'function') {
                self._bind($el, type, function (event) {
                    callHandler(self[prop], self, [event], prop + ' of page "' + self._id + '"');
                });
            }
        });
        if (typeof this.onOrientationChange === 'function') {
            // A device that turns says so once; the device preview gives the page its new size,
            // which jQuery Mobile tells as a turn, and says so as well. The handler hears once
            // of each way the device comes to stand, the first it is told since the page is
            // shown included.
            var told = null;
            this._bind($(window), 'orientationchange', function (event) {
                var standing = deviceStanding();
                if (standing === told)
                    return;
                told = standing;
                callHandler(self.onOrientationChange, self, [event], 'onOrientationChange of page "' + self._id + '"');
            });
        }
        var form = this._formElement();
        if (form) {
            if (!isEmpty(this.formAction))
                dom(form, 'setAttribute', ['action', String(this.formAction)]);
            if (typeof this.onSubmit === 'function') {
                this._bind($(form), 'submit', function (event) {
                    if (!callHandler(self.onSubmit, self, [event], 'onSubmit of page "' + self._id + '"'))
                        event.preventDefault();
                });
            }
        }
        if (this.form && typeof this.form === 'object')
            this._fillForm(this.form);
        // Objects are placed absolutely, so they do not make the page taller: without help
        // the page would end at the screen's height and cut off whatever lies below it.
        installPageStyle();
        this._bind($el, 'pageshow', function () { self._fitContent(); });
        this._bind($(window), 'resize orientationchange', function () { self._fitContent(); });
        this._fitContent();
    };

    // How the device stands: the angle a device that turns gives, else the shape of the screen,
    // judged as jQuery Mobile judges it where there is no angle.
    function deviceStanding() {
        if (typeof window.orientation === 'number')
            return String(window.orientation);
        var root = dom(document, 'documentElement');
        return root && root.clientWidth / root.clientHeight < 1.1 ? 'portrait' : 'landscape';
    }

    // Makes the page's flow as tall as its lowest object (a spacer after the content), so
    // the document scrolls to every object while the fixed toolbars stay in place.
    KRPage.prototype._fitContent = function () {
        var el = this._element();
        if (!el || !el.offsetHeight)
            return; // not shown yet: measured again when it is
        var spacer = el.querySelector('.kr-page-extent');
        if (!spacer) {
            spacer = makeElement('div');
            spacer.className = 'kr-page-extent';
            spacer.setAttribute('aria-hidden', 'true');
            spacer.style.cssText = 'visibility:hidden;pointer-events:none;margin:0;padding:0;border:0;height:0;';
            el.appendChild(spacer);
        }
        spacer.style.height = '0px';
        var bottom = 0, form = this._formElement();
        var boxes = $(el).children().add(form ? $.makeArray(dom(form, 'children')) : []);
        boxes.each(function () {
            var cs = window.getComputedStyle ? window.getComputedStyle(this) : null;
            if (!cs || cs.position !== 'absolute' || cs.display === 'none')
                return;
            bottom = Math.max(bottom, this.offsetTop + this.offsetHeight);
        });
        spacer.style.height = Math.max(0, bottom - spacer.offsetTop) + 'px';
    };

    // Shows the values a server page received (`form`, name to value or list of values) in
    // the page's controls of those names. Walked by its own names: the answer is no list, even
    // with a value named "length".
    KRPage.prototype._fillForm = function (values) {
        var root = this._element();
        if (!root)
            return;
        // The page's elements by their names (as the user gave them); "__proto__" is a name too.
        var named = Object.create(null);
        $(root).find('[name]').each(function () {
            var name = dom(this, 'getAttribute', ['data-kr-name']) || dom(this, 'getAttribute', ['name']);
            (named[name] = named[name] || []).push(this);
        });
        $.each(Object.keys(values), function (i, name) {
            if (!named[name])
                return;
            var value = values[name];
            var list = $.isArray(value) ? $.map(value, String) : [isEmpty(value) ? '' : String(value)];
            $.each(named[name], function () {
                var $f = $(this), type = String(dom(this, 'type') || '').toLowerCase();
                if (type === 'checkbox' || type === 'radio') {
                    this.checked = $.inArray(dom(this, 'value'), list) >= 0;
                    widgetCall($f, 'checkboxradio', 'refresh');
                } else if (type !== 'button' && type !== 'submit' && type !== 'file') {
                    $f.val(dom(this, 'multiple') ? list : list[0]);
                    widgetCall($f, 'selectmenu', 'refresh');
                    widgetCall($f, 'slider', 'refresh');
                }
            });
        });
    };

    // ----------------------------------------------------------- object bases

    function KRObject(elementID) {
        this._elementID = elementID;
        this._id = elementID;
        this._page = null;
        this._handlers = [];
    }

    KRObject.prototype._attach = function (page, id) {
        this._page = page;
        this._id = id;
    };

    KRObject.prototype._setup = function () {};

    KRObject.prototype._teardown = function () {
        for (var i = 0; i < this._handlers.length; i++)
            this._handlers[i].off('.kr');
        this._handlers = [];
    };

    KRObject.prototype._on = function ($target, events, selector, handler) {
        if (!$target || !$target.length)
            return;
        if (typeof selector === 'function') {
            handler = selector;
            selector = undefined;
        }
        var namespaced = events.replace(/(\S+)/g, '$1.kr');
        if (selector)
            $target.on(namespaced, selector, handler);
        else
            $target.on(namespaced, handler);
        this._handlers.push($target);
    };

    // Calls the handler stored in property `prop` with the object as `this`.
    KRObject.prototype._fire = function (prop, args) {
        return callHandler(this[prop], this, args, prop + ' of "' + this._id + '"');
    };

    KRObject.prototype._deviceValue = function (v) {
        var app = application();
        return app ? app._deviceValue(v) : (v && typeof v === 'object' ? '' : String(isEmpty(v) ? '' : v));
    };

    // A visual object: one element with the page-prefixed id.
    function KRControl(elementID) {
        KRObject.call(this, elementID);
    }
    inherit(KRControl, KRObject);

    // DOM events behind the event properties; focus and blur bubble as focusin/focusout,
    // so a widget's outer element sees them for its inner input too.
    KRControl.events = {
        onClick: 'click', onTouchStart: 'touchstart', onTouchMove: 'touchmove', onTouchEnd: 'touchend',
        onChange: 'change', onFocus: 'focusin', onBlur: 'focusout'
    };

    KRControl.prototype.element = function () {
        return $byId(this._elementID);
    };

    KRControl.prototype._setup = function () {
        this._applyGeometry();
        this._wireEvents();
    };

    KRControl.prototype._geometry = function (name) {
        return cssLength(this._deviceValue(this[name]));
    };

    KRControl.prototype._applyGeometry = function () {
        var el = byId(this._elementID);
        if (!el)
            return;
        var names = ['top', 'left', 'width', 'height'];
        for (var i = 0; i < names.length; i++) {
            if (this[names[i]] === undefined)
                continue;
            var v = this._geometry(names[i]);
            if (v)
                el.style[names[i]] = v;
        }
    };

    KRControl.prototype._wireEvents = function () {
        var self = this, $el = this.element();
        $.each(KRControl.events, function (prop, type) {
            if (prop === 'onClick' && self._handlesClick())
                return;
            if (typeof self[prop] === 'function') {
                self._on($el, type, function (event) { self._fire(prop, [event]); });
            }
        });
        if (this._handlesClick()) {
            this._on($el, 'click', function (event) { self._click(event); });
        }
    };

    // Controls with a page to go to handle clicks themselves: handler first, then the page
    // change unless the handler returned false.
    KRControl.prototype._handlesClick = function () {
        return !isEmpty(this.gotoPage);
    };

    KRControl.prototype._click = function (event) {
        if (!this._fire('onClick', [event]))
            return;
        if (!isEmpty(this.gotoPage)) {
            if (event && event.preventDefault)
                event.preventDefault();
            application().gotoPage(this.gotoPage, this.gotoPageTransition);
        }
    };

    // The element holding the control's value (widgets override it with their inner input).
    KRControl.prototype._valueElement = function () {
        return this.element();
    };

    KRControl.prototype.getValue = function () {
        return this._valueElement().val();
    };

    KRControl.prototype.setValue = function (value) {
        this._valueElement().val(value);
    };

    KRControl.prototype.show = function () {
        this.element().css('display', '');
    };

    KRControl.prototype.hide = function () {
        this.element().css('display', 'none');
    };

    function KRFormControl(elementID) {
        KRControl.call(this, elementID);
    }
    inherit(KRFormControl, KRControl);

    // Defines a class `name` with base `Base` and the given prototype members.
    function defineClass(name, Base, members) {
        var C = function (elementID) { Base.call(this, elementID); };
        inherit(C, Base);
        for (var k in members) {
            if (Object.prototype.hasOwnProperty.call(members, k))
                C.prototype[k] = members[k];
        }
        C.className = name;
        window[name] = C;
        return C;
    }

    // --------------------------------------------------------- plain controls

    defineClass('KRDiv', KRControl, {
        getValue: function () { return this.element().html(); },
        setValue: function (html) { this.element().html(html); }
    });

    defineClass('KRLabel', KRControl, {
        getValue: function () { return this.element().text(); },
        setValue: function (text) { this.element().text(isEmpty(text) ? '' : String(text)); }
    });

    defineClass('KRTextbox', KRFormControl, {});
    defineClass('KRTextArea', KRFormControl, {});
    defineClass('KRSelect', KRFormControl, {});
    defineClass('KRButton', KRFormControl, {});

    var checkable = {
        isChecked: function () { return !!this.element().prop('checked'); },
        setChecked: function (checked) { this.element().prop('checked', !!checked); }
    };
    defineClass('KRCheckbox', KRFormControl, checkable);
    defineClass('KRRadioButton', KRFormControl, checkable);

    defineClass('KRImage', KRControl, {
        _setup: function () {
            KRControl.prototype._setup.call(this);
            var self = this, el = byId(this._elementID);
            if (!el || typeof this.onLoad !== 'function')
                return;
            this._on($(el), 'load', function (event) { self._fire('onLoad', [event]); });
            // The image may have finished before the page was shown.
            if (el.complete && el.naturalWidth > 0) {
                window.setTimeout(function () {
                    if (self._page)
                        self._fire('onLoad', [$.Event('load', { target: el })]);
                }, 0);
            }
        },
        getValue: function () { return this.element().attr('src'); },
        setValue: function (src) { this.element().attr('src', src); }
    });

    defineClass('KRCanvas', KRControl, {
        _applyGeometry: function () {
            KRControl.prototype._applyGeometry.call(this);
            var el = byId(this._elementID), names = ['width', 'height'];
            for (var i = 0; el && i < names.length; i++) {
                var v = this._deviceValue(this[names[i]]);
                if (/^\d+(\.\d*)?(px)?$/.test(v))
                    el.setAttribute(names[i], String(parseInt(v, 10)));
            }
        },
        context: function (type) {
            var el = byId(this._elementID);
            return el && el.getContext ? el.getContext(type || '2d') : null;
        }
    });

    // The built table element is empty: the cells are made here, bordered like the table
    // itself (as the design view draws them). An unchanged table keeps its cells and their
    // contents when the page is shown again.
    defineClass('KRTable', KRControl, {
        _setup: function () {
            KRControl.prototype._setup.call(this);
            this._buildCells();
        },
        _buildCells: function () {
            var table = byId(this._elementID);
            if (!table)
                return;
            var rows = Math.max(0, Math.floor(toNumber(this.rows, 0)));
            var columns = Math.max(0, Math.floor(toNumber(this.columns, 0)));
            var body = table.tBodies.length ? table.tBodies[0] : table;
            if (table.rows.length === rows && (rows === 0 || table.rows[0].cells.length === columns))
                return;
            while (table.firstChild)
                table.removeChild(table.firstChild);
            body = makeElement('tbody');
            table.appendChild(body);
            var s = table.style;
            for (var r = 0; r < rows; r++) {
                var tr = makeElement('tr');
                for (var c = 0; c < columns; c++) {
                    var td = makeElement('td');
                    if (s.borderStyle) td.style.borderStyle = s.borderStyle;
                    if (s.borderWidth) td.style.borderWidth = s.borderWidth;
                    if (s.borderColor) td.style.borderColor = s.borderColor;
                    tr.appendChild(td);
                }
                body.appendChild(tr);
            }
        },
        cell: function (row, column) {
            var table = byId(this._elementID);
            var tr = table && table.rows[row];
            return $(tr && tr.cells[column] ? tr.cells[column] : []);
        }
    });

    // A repeating timer: `interval` in milliseconds, `enabled` (default true), `onTimeout`
    // called with the timer as `this`. It stops when its page's objects are rebuilt.
    defineClass('KRTimer', KRObject, {
        _setup: function () {
            this._timer = null;
            if (toBoolean(this.enabled, true))
                this.start();
        },
        _teardown: function () {
            this.stop();
            KRObject.prototype._teardown.call(this);
        },
        start: function () {
            this.stop();
            var ms = toNumber(this.interval, 0), self = this;
            if (!(ms > 0))
                return;
            this._timer = window.setInterval(function () {
                var app = application();
                if (app)
                    app._watchdog();
                self._fire('onTimeout', [$.Event('timeout', { target: self })]);
            }, ms);
        },
        stop: function () {
            if (this._timer !== null && this._timer !== undefined)
                window.clearInterval(this._timer);
            this._timer = null;
        },
        isRunning: function () {
            return this._timer !== null && this._timer !== undefined;
        }
    });

    // Values kept in the browser's local storage under a key of the page and object ids
    // (in memory where local storage is unavailable). Values are stored as JSON.
    var memoryStorage = {};
    defineClass('KRLocalDataSource', KRObject, {
        _storage: function () {
            try {
                if (window.localStorage)
                    return window.localStorage;
            } catch (e) {
                // Storage refused (private mode, file address): fall back to memory.
            }
            return null;
        },
        _prefix: function () {
            return 'kr.' + this._elementID + '.';
        },
        getItem: function (key) {
            var store = this._storage(), k = this._prefix() + key;
            var text = store ? store.getItem(k) : (Object.prototype.hasOwnProperty.call(memoryStorage, k) ? memoryStorage[k] : null);
            if (text === null || text === undefined)
                return null;
            try { return JSON.parse(text); } catch (e) { return text; }
        },
        setItem: function (key, value) {
            var store = this._storage(), k = this._prefix() + key, text = JSON.stringify(value);
            if (store)
                store.setItem(k, text);
            else
                memoryStorage[k] = text;
        },
        removeItem: function (key) {
            var store = this._storage(), k = this._prefix() + key;
            if (store)
                store.removeItem(k);
            else
                delete memoryStorage[k];
        },
        keys: function () {
            var store = this._storage(), prefix = this._prefix(), out = [], k, i;
            if (store) {
                for (i = 0; i < store.length; i++) {
                    k = store.key(i);
                    if (k && k.indexOf(prefix) === 0)
                        out.push(k.substring(prefix.length));
                }
            } else {
                for (k in memoryStorage) {
                    if (k.indexOf(prefix) === 0)
                        out.push(k.substring(prefix.length));
                }
            }
            return out;
        },
        clear: function () {
            var keys = this.keys();
            for (var i = 0; i < keys.length; i++)
                this.removeItem(keys[i]);
        }
    });

    // ------------------------------------------------------ jQuery Mobile widgets

    function innerID(obj, suffix) {
        return '_' + obj._elementID + suffix;
    }

    defineClass('JQMSlider', KRFormControl, {
        _valueElement: function () { return $byId(innerID(this, '_inp')); },
        setValue: function (value) {
            var $i = this._valueElement().val(value);
            widgetCall($i, 'slider', 'refresh');
        }
    });

    defineClass('JQMButton', KRFormControl, {
        _valueElement: function () { return $byId(innerID(this, '_inp')); },
        setValue: function (value) {
            var $i = this._valueElement().val(value);
            widgetCall($i, 'button', 'refresh');
        }
    });

    defineClass('JQMTextbox', KRFormControl, {
        _valueElement: function () { return $byId(innerID(this, '_inp')); }
    });

    defineClass('JQMTextArea', KRFormControl, {
        _valueElement: function () { return $byId(innerID(this, '_inp')); }
    });

    var groupMembers = {
        _inputs: function () {
            return this.element().find('input');
        },
        getValue: function () {
            var checked = this._inputs().filter(':checked');
            return checked.length ? checked.val() : '';
        },
        setValue: function (value) {
            var list = $.isArray(value) ? $.map(value, String) : [String(value)];
            this._inputs().each(function () {
                this.checked = $.inArray(this.value, list) >= 0;
            });
            widgetCall(this._inputs(), 'checkboxradio', 'refresh');
        }
    };
    defineClass('JQMRadioButtonGroup', KRFormControl, groupMembers);
    // A check-box group may have several options checked: its value is the list of them.
    defineClass('JQMCheckboxGroup', KRFormControl, $.extend({}, groupMembers, {
        getValue: function () {
            return this._inputs().filter(':checked').map(function () { return this.value; }).get();
        }
    }));

    defineClass('JQMSelect', KRFormControl, {
        _valueElement: function () { return $byId(innerID(this, '_sel')); },
        setValue: function (value) {
            var $s = this._valueElement().val(value);
            widgetCall($s, 'selectmenu', 'refresh');
        }
    });

    defineClass('JQMSlideToggle', KRFormControl, {
        _valueElement: function () { return $byId(innerID(this, '_sel')); },
        setValue: function (value) {
            var $s = this._valueElement().val(value);
            widgetCall($s, 'slider', 'refresh');
            widgetCall($s, 'flipswitch', 'refresh');
        }
    });

    // --------------------------------------------------- toolbars and navigation bars

    function JQMBaseToolbar(elementID) {
        KRFormControl.call(this, elementID);
    }
    inherit(JQMBaseToolbar, KRFormControl);
    window.JQMBaseToolbar = JQMBaseToolbar;

    JQMBaseToolbar.prototype._bar = function () {
        return $byId(innerID(this, '_div'));
    };

    JQMBaseToolbar.prototype._handlesClick = function () {
        return false;
    };

    // A toolbar has no geometry of its own: jQuery Mobile places it.
    JQMBaseToolbar.prototype._applyGeometry = function () {};

    JQMBaseToolbar.prototype._setup = function () {
        KRControl.prototype._setup.call(this);
        var self = this, $bar = this._bar();
        $.each(['left', 'right'], function (i, side) {
            self._on($bar, 'click', 'a.ui-btn-' + side, function (event) {
                event.preventDefault();
                if (!self._fire(side + 'ButtonOnClick', [event]))
                    return;
                var target = self[side + 'ButtonGotoPage'];
                if (!isEmpty(target))
                    application().gotoPage(target, self[side + 'ButtonGotoPageTransition']);
            });
        });
        this._items = parseList(this.navbarItems);
        if (this._items.length && this._navbar().find('li').length !== this._items.length)
            this._renderNavbar();
        this._on($bar, 'click', '#' + innerID(this, '_nb') + ' li', function (event) {
            var index = $(this).index();
            self._itemClicked(event, index);
        });
    };

    JQMBaseToolbar.prototype._navbar = function () {
        return $byId(innerID(this, '_nb'));
    };

    JQMBaseToolbar.prototype._renderNavbar = function () {
        var $bar = this._bar();
        if (!$bar.length)
            return;
        this._navbar().remove();
        var nb = makeElement('div');
        nb.setAttribute('data-role', 'navbar');
        setData(nb, 'iconpos', this.navbarIconpos);
        nb.id = innerID(this, '_nb');
        var ul = makeElement('ul');
        nb.appendChild(ul);
        for (var i = 0; i < this._items.length; i++) {
            var item = this._items[i];
            var li = makeElement('li');
            li.id = innerID(this, '_nbi' + i);
            var a = makeElement('a');
            a.appendChild(makeText(isEmpty(item.label) ? '' : String(item.label)));
            setData(a, 'theme', item.theme);
            setData(a, 'icon', item.icon);
            if (toBoolean(item.active, false))
                a.className = 'ui-btn-active ui-state-persist';
            li.appendChild(a);
            ul.appendChild(li);
        }
        $bar[0].appendChild(nb);
        try {
            if (typeof $(nb).navbar === 'function')
                $(nb).navbar();
        } catch (e) {
            log('could not enhance the navigation bar of "' + this._id + '": ' + e.message);
        }
    };

    // A navigation-bar item: its own onClick, else the bar's navbarOnClick, each called with
    // (event, item, index); then its page, unless a handler returned false.
    JQMBaseToolbar.prototype._itemClicked = function (event, index) {
        var item = this._items[index];
        if (!item)
            return;
        event.preventDefault();
        var go = typeof item.onClick === 'function' ?
            callHandler(item.onClick, this, [event, item, index], 'navigation-bar item ' + index + ' of "' + this._id + '"') :
            this._fire('navbarOnClick', [event, item, index]);
        if (go && !isEmpty(item.gotoPage))
            application().gotoPage(item.gotoPage, item.gotoPageTransition);
    };

    defineClass('JQMHeaderToolbar', JQMBaseToolbar, {});
    defineClass('JQMFooterToolbar', JQMBaseToolbar, {});

    // ---------------------------------------------------------------- list view

    defineClass('JQMListView', KRFormControl, {
        _handlesClick: function () { return false; },
        _list: function () { return $byId(innerID(this, '_ul')); },
        _setup: function () {
            KRControl.prototype._setup.call(this);
            var self = this;
            this.setItems(this.items);
            this._on(this._list(), 'click', 'li', function (event) {
                self._itemClicked(event, $(this).index());
            });
        },
        getItems: function () {
            return this._items.slice(0);
        },
        // Renders the rows as the design view does: dividers, items with icon, label,
        // thumbnail and badge.
        setItems: function (items) {
            this._items = parseList(items);
            var $ul = this._list();
            if (!$ul.length)
                return;
            var ul = $ul[0];
            while (ul.firstChild)
                ul.removeChild(ul.firstChild);
            for (var i = 0; i < this._items.length; i++)
                ul.appendChild(this._row(this._items[i]));
            try {
                if ($ul.data('mobile-listview') || $ul.data('listview'))
                    $ul.listview('refresh');
                else if (typeof $ul.listview === 'function' && $ul.closest('.ui-page').length)
                    $ul.listview();
            } catch (e) {
                log('could not refresh the list of "' + this._id + '": ' + e.message);
            }
        },
        _row: function (item) {
            var li = makeElement('li');
            var label = makeText(isEmpty(item.label) ? '' : String(item.label));
            if (toBoolean(item.divider, false)) {
                setData(li, 'dividertheme', item.theme);
                li.setAttribute('data-role', 'list-divider');
                li.appendChild(label);
                return li;
            }
            setData(li, 'theme', item.theme);
            setData(li, 'icon', isEmpty(item.icon) ? this.icon : item.icon);
            var a = makeElement('a');
            a.appendChild(label);
            if (toBoolean(this.wordwrap, false))
                a.style.whiteSpace = 'normal';
            if (!isEmpty(item.thumbnailImage)) {
                var img = makeElement('img');
                img.setAttribute('src', String(item.thumbnailImage));
                a.appendChild(img);
            }
            li.appendChild(a);
            var badge = makeElement('span');
            if (!isEmpty(item.badge)) {
                badge.className = 'kr-lvi-badge ui-li-count';
                badge.appendChild(makeText(String(item.badge)));
            } else {
                badge.className = 'kr-lvi-badge';
            }
            li.appendChild(badge);
            return li;
        },
        // An item: its onClick with (event, item, index), then its page with its own
        // transition or the list's.
        _itemClicked: function (event, index) {
            var item = this._items[index];
            if (!item || toBoolean(item.divider, false))
                return;
            event.preventDefault();
            var go = callHandler(item.onClick, this, [event, item, index],
                'list item ' + index + ' of "' + this._id + '"');
            if (go && !isEmpty(item.gotoPage)) {
                application().gotoPage(item.gotoPage,
                    isEmpty(item.gotoPageTransition) ? this.gotoPageTransition : item.gotoPageTransition);
            }
        }
    });

    // -------------------------------------------------------------------- graph

    // A chart on the Bluff-compatible script: `new Bluff.<type>(canvasId, 'WxH')`, title,
    // `theme_<theme>()`, the data series given with `addData`, then `draw()`.
    defineClass('KRBluffGraph', KRControl, {
        _setup: function () {
            KRControl.prototype._setup.call(this);
            this._series = this._series || [];
            this._labels = this._labels || null;
            this.draw();
        },
        _canvasID: function () {
            return innerID(this, '_canvas');
        },
        _size: function () {
            var el = byId(this._elementID);
            var w = parseInt(this._deviceValue(this.width), 10), h = parseInt(this._deviceValue(this.height), 10);
            if (!(w > 0) || /%/.test(this._deviceValue(this.width)))
                w = el && el.offsetWidth > 0 ? el.offsetWidth : 300;
            if (!(h > 0) || /%/.test(this._deviceValue(this.height)))
                h = el && el.offsetHeight > 0 ? el.offsetHeight : 200;
            return w + 'x' + h;
        },
        addData: function (name, points, colour) {
            this._series = this._series || [];
            this._series.push([name, points, colour]);
        },
        clearData: function () {
            this._series = [];
        },
        setLabels: function (labels) {
            this._labels = labels;
        },
        chart: function () {
            return this._chart || null;
        },
        draw: function () {
            var Bluff = window.Bluff;
            if (!Bluff) {
                log('the graph "' + this._id + '" needs bluff-src.js');
                return;
            }
            var type = isEmpty(this.type) ? 'Line' : String(this.type);
            if (typeof Bluff[type] !== 'function') {
                log('unknown graph type "' + type + '", drawing a line graph');
                type = 'Line';
            }
            if (!byId(this._canvasID()))
                return;
            var g = new Bluff[type](this._canvasID(), this._size());
            if (!isEmpty(this.title))
                g.title = String(this.title);
            if (!isEmpty(this.theme) && typeof g['theme_' + this.theme] === 'function')
                g['theme_' + this.theme]();
            var series = this._series || [];
            for (var i = 0; i < series.length; i++) {
                if (series[i][2] === undefined)
                    g.data(series[i][0], series[i][1]);
                else
                    g.data(series[i][0], series[i][1], series[i][2]);
            }
            if (this._labels)
                g.labels = this._labels;
            g.draw();
            this._chart = g;
        }
    });

    // ------------------------------------------------------------ photo gallery

    var photoSwipeMarkup =
        '<div class="pswp__bg"></div><div class="pswp__scroll-wrap"><div class="pswp__container">' +
        '<div class="pswp__item"></div><div class="pswp__item"></div><div class="pswp__item"></div></div>' +
        '<div class="pswp__ui pswp__ui--hidden"><div class="pswp__top-bar"><div class="pswp__counter"></div>' +
        '<button class="pswp__button pswp__button--close" title="Close (Esc)"></button>' +
        '<button class="pswp__button pswp__button--share" title="Share"></button>' +
        '<button class="pswp__button pswp__button--fs" title="Toggle fullscreen"></button>' +
        '<button class="pswp__button pswp__button--zoom" title="Zoom in/out"></button>' +
        '<div class="pswp__preloader"><div class="pswp__preloader__icn"><div class="pswp__preloader__cut">' +
        '<div class="pswp__preloader__donut"></div></div></div></div></div>' +
        '<div class="pswp__share-modal pswp__share-modal--hidden pswp__single-tap"><div class="pswp__share-tooltip"></div></div>' +
        '<button class="pswp__button pswp__button--arrow--left" title="Previous (arrow left)"></button>' +
        '<button class="pswp__button pswp__button--arrow--right" title="Next (arrow right)"></button>' +
        '<div class="pswp__caption"><div class="pswp__caption__center"></div></div></div></div>';

    function photoSwipeRoot() {
        var root = dom(document, 'querySelector', ['.pswp']);
        if (!root) {
            root = makeElement('div');
            root.className = 'pswp';
            root.setAttribute('tabindex', '-1');
            root.setAttribute('role', 'dialog');
            root.setAttribute('aria-hidden', 'true');
            root.innerHTML = photoSwipeMarkup;
            dom(document, 'body').appendChild(root);
        }
        return root;
    }

    // The gallery's options, named as the PhotoSwipe 3 options, in PhotoSwipe 4 terms
    // where PhotoSwipe 4 has an equivalent. The slideshow has none and is done here.
    function photoSwipeOptions(g) {
        var o = { index: 0, history: false, shareEl: false };
        if (g.loop !== undefined) o.loop = toBoolean(g.loop, true);
        if (g.fadeInSpeed !== undefined) o.showAnimationDuration = toNumber(g.fadeInSpeed, 333);
        if (g.fadeOutSpeed !== undefined) o.hideAnimationDuration = toNumber(g.fadeOutSpeed, 333);
        if (g.maxUserZoom !== undefined) o.maxSpreadZoom = toNumber(g.maxUserZoom, 2);
        if (g.margin !== undefined) o.spacing = toNumber(g.margin, 20) / Math.max(1, window.innerWidth || 320);
        if (g.captionAndToolbarAutoHideDelay !== undefined) {
            var delay = toNumber(g.captionAndToolbarAutoHideDelay, 4000);
            o.timeToIdle = delay > 0 ? delay : false;
            o.timeToIdleOutside = delay > 0 ? delay : false;
        }
        if (g.doubleTapZoomLevel !== undefined) {
            var level = toNumber(g.doubleTapZoomLevel, 2);
            o.getDoubleTapZoom = function (isMouseClick, item) { return item.initialZoomLevel * level; };
        }
        if (toBoolean(g.allowUserZoom, true) === false) {
            o.maxSpreadZoom = 1;
            o.zoomEl = false;
            o.getDoubleTapZoom = function (isMouseClick, item) { return item.initialZoomLevel; };
            o.pinchToClose = false;
        }
        if (toBoolean(g.captionAndToolbarHide, false)) {
            o.captionEl = false;
            o.fullscreenEl = false;
            o.zoomEl = false;
            o.counterEl = false;
            o.arrowEl = false;
        }
        if (toBoolean(g.captionAndToolbarShowEmptyCaptions, true) === false) {
            o.addCaptionHTMLFn = function (item, captionEl) {
                if (!item.title) {
                    captionEl.children[0].textContent = '';
                    return false;
                }
                captionEl.children[0].textContent = item.title;
                return true;
            };
        } else {
            o.addCaptionHTMLFn = function (item, captionEl) {
                captionEl.children[0].textContent = item.title || '';
                return true;
            };
        }
        return o;
    }

    defineClass('KRPhotoSwipe', KRControl, {
        _setup: function () {
            KRControl.prototype._setup.call(this);
            this._images = [];
            var list = parseList(this.images);
            for (var i = 0; i < list.length; i++) {
                if (!isEmpty(list[i].url))
                    this._images.push({ url: String(list[i].url), caption: isEmpty(list[i].caption) ? '' : String(list[i].caption) });
            }
            this._renderThumbnails();
        },
        _teardown: function () {
            this.close();
            KRControl.prototype._teardown.call(this);
        },
        _renderThumbnails: function () {
            var el = byId(this._elementID), self = this;
            if (!el)
                return;
            $(el).children('.kr-photoswipe-thumbs').remove();
            var box = makeElement('div');
            box.className = 'kr-photoswipe-thumbs';
            box.style.cssText = 'width:100%;height:100%;overflow:auto;-webkit-overflow-scrolling:touch;';
            for (var i = 0; i < this._images.length; i++) {
                var img = makeElement('img');
                img.setAttribute('src', this._images[i].url);
                img.setAttribute('alt', this._images[i].caption);
                img.setAttribute('data-index', String(i));
                img.style.cssText = 'width:31%;margin:1%;height:auto;vertical-align:top;cursor:pointer;';
                box.appendChild(img);
            }
            el.appendChild(box);
            this._on($(box), 'click', 'img', function (event) {
                event.preventDefault();
                self.open(parseInt(this.getAttribute('data-index'), 10) || 0);
            });
        },
        open: function (index) {
            var PhotoSwipe = window.PhotoSwipe, UI = window.PhotoSwipeUI_Default;
            if (!PhotoSwipe || !UI) {
                log('the photo gallery "' + this._id + '" needs photoswipe.min.js and photoswipe-ui-default.min.js');
                return null;
            }
            if (!this._images.length)
                return null;
            var items = $.map(this._images, function (image) {
                return { src: image.url, title: image.caption, w: 0, h: 0 };
            });
            var options = photoSwipeOptions(this);
            options.index = Math.min(Math.max(0, index || 0), items.length - 1);
            this.close();
            var gallery = new PhotoSwipe(photoSwipeRoot(), UI, items, options);
            // Sizes are not known in advance: load each image once to learn them.
            gallery.listen('gettingData', function (i, item) {
                if (item.w > 0 && item.h > 0)
                    return;
                var probe = new window.Image();
                probe.onload = function () {
                    item.w = probe.naturalWidth || probe.width;
                    item.h = probe.naturalHeight || probe.height;
                    gallery.invalidateCurrItems();
                    gallery.updateSize(true);
                };
                probe.src = item.src;
            });
            var self = this;
            gallery.listen('destroy', function () {
                self._stopSlideshow();
                if (self._gallery === gallery)
                    self._gallery = null;
            });
            gallery.init();
            this._gallery = gallery;
            if (!isEmpty(this.captionAndToolbarOpacity)) {
                $(photoSwipeRoot()).find('.pswp__top-bar, .pswp__caption')
                    .css('opacity', String(toNumber(this.captionAndToolbarOpacity, 0.8)));
            }
            if (toBoolean(this.autoStartSlideshow, false) && !toBoolean(this.preventSlideshow, false))
                this.startSlideshow();
            return gallery;
        },
        close: function () {
            this._stopSlideshow();
            if (this._gallery) {
                var g = this._gallery;
                this._gallery = null;
                try { g.close(); } catch (e) { /* already closing */ }
            }
        },
        startSlideshow: function () {
            var self = this;
            this._stopSlideshow();
            if (!this._gallery || toBoolean(this.preventSlideshow, false))
                return;
            this._slideshow = window.setInterval(function () {
                if (self._gallery)
                    self._gallery.next();
            }, Math.max(500, toNumber(this.slideshowDelay, 3000)));
        },
        _stopSlideshow: function () {
            if (this._slideshow)
                window.clearInterval(this._slideshow);
            this._slideshow = null;
        }
    });

    // ------------------------------------------------------------------ pop-up

    // A jQuery Mobile pop-up built from its properties when the page is shown; `open()`
    // shows it, each button calls its handler and closes it.
    defineClass('JQMSimplePopup', KRObject, {
        _setup: function () {
            this._build();
        },
        _teardown: function () {
            var $p = $byId(this._elementID);
            try {
                if ($p.data('mobile-popup') || $p.data('popup'))
                    $p.popup('destroy');
            } catch (e) { /* never enhanced */ }
            $byId(this._elementID).remove();
            $byId(this._elementID + '-popup').remove();
            $byId(this._elementID + '-screen').remove();
            KRObject.prototype._teardown.call(this);
        },
        _build: function () {
            var page = this._page && this._page._element();
            if (!page)
                return;
            $byId(this._elementID).remove();
            var self = this, text = function (v) { return isEmpty(v) ? '' : String(v); };
            var div = makeElement('div');
            div.id = this._elementID;
            div.className = 'kr-simple-popup';
            div.setAttribute('data-role', 'popup');
            setData(div, 'theme', this.theme);
            setData(div, 'overlay-theme', this.overlayTheme);
            setData(div, 'transition', this.transition);
            if (this.shadow !== undefined) div.setAttribute('data-shadow', String(toBoolean(this.shadow, true)));
            if (this.corners !== undefined) div.setAttribute('data-corners', String(toBoolean(this.corners, true)));
            if (!isEmpty(this.title)) {
                var header = makeElement('div');
                header.setAttribute('data-role', 'header');
                setData(header, 'theme', this.headerTheme);
                var h1 = makeElement('h1');
                h1.appendChild(makeText(text(this.title)));
                header.appendChild(h1);
                div.appendChild(header);
            }
            var content = makeElement('div');
            content.setAttribute('role', 'main');
            content.className = 'ui-content' + (isEmpty(this.contentTheme) ? '' : ' ui-body-' + this.contentTheme);
            if (!isEmpty(this.message)) {
                var h3 = makeElement('h3');
                h3.className = 'ui-title';
                h3.appendChild(makeText(text(this.message)));
                content.appendChild(h3);
            }
            if (!isEmpty(this.text)) {
                var p = makeElement('p');
                p.appendChild(makeText(text(this.text)));
                content.appendChild(p);
            }
            var inline = toBoolean(this.inlineButtons, false);
            $.each([1, 2], function (i, n) {
                var label = self['button' + n + 'Label'];
                if (isEmpty(label))
                    return;
                var a = makeElement('a');
                a.setAttribute('href', '#');
                a.setAttribute('data-kr-button', String(n));
                a.className = 'ui-btn ui-corner-all ui-shadow' + (inline ? ' ui-btn-inline' : '') +
                    (isEmpty(self['button' + n + 'Theme']) ? '' : ' ui-btn-' + self['button' + n + 'Theme']);
                a.appendChild(makeText(text(label)));
                content.appendChild(a);
            });
            div.appendChild(content);
            page.appendChild(div);
            var $div = $(div);
            try {
                if (typeof $div.popup === 'function')
                    $div.popup();
                enhance($div);
            } catch (e) {
                log('could not enhance the pop-up "' + this._id + '": ' + e.message);
            }
            this._on($div, 'click', 'a[data-kr-button]', function (event) {
                event.preventDefault();
                var n = this.getAttribute('data-kr-button');
                self._fire('onButton' + n + 'Click', [event]);
                self.close();
            });
        },
        _element: function () {
            return $byId(this._elementID);
        },
        open: function () {
            var $p = this._element();
            if (!$p.length)
                this._build();
            $p = this._element();
            var options = { positionTo: 'window' };
            if (!isEmpty(this.transition))
                options.transition = String(this.transition);
            try {
                $p.popup('open', options);
            } catch (e) {
                report(e, 'opening the pop-up "' + this._id + '"');
            }
        },
        close: function () {
            try {
                this._element().popup('close');
            } catch (e) { /* not open */ }
        }
    });

    // ---------------------------------------------------------------- plug-ins

    // Base of the classes that plug-ins add. A plug-in's run-time script defines its class:
    //   function MyControl(id) { KRPlugin.call(this, id); }
    //   KRObjects.inherit(MyControl, KRPlugin);
    //   MyControl.prototype.render = function(element, properties) { ... };
    // or shorter: KRPlugin.define('MyControl', { render: function(element, properties) { ... } });
    // `render` runs when the page is shown, after geometry and events, with the element and
    // the property values the page script assigned.
    function KRPlugin(elementID) {
        KRControl.call(this, elementID);
    }
    inherit(KRPlugin, KRControl);
    window.KRPlugin = KRPlugin;

    KRPlugin.prototype._setup = function () {
        KRControl.prototype._setup.call(this);
        if (typeof this.render === 'function') {
            var el = byId(this._elementID);
            if (el)
                this.render(el, this.properties());
        }
    };

    KRPlugin.prototype.properties = function () {
        var out = {};
        for (var k in this) {
            if (Object.prototype.hasOwnProperty.call(this, k) && k.charAt(0) !== '_')
                out[k] = k === 'top' || k === 'left' || k === 'width' || k === 'height' ? this._deviceValue(this[k]) : this[k];
        }
        out.id = this._id;
        return out;
    };

    KRPlugin.define = function (name, members) {
        return defineClass(name, KRPlugin, members || {});
    };

    // ------------------------------------------------------------------ exports

    window.KRApplication = KRApplication;
    window.KRPage = KRPage;
    window.KRObject = KRObject;
    window.KRControl = KRControl;
    window.KRFormControl = KRFormControl;
    window.KRObjects = {
        version: '1.0.0',
        inherit: inherit,
        defineClass: defineClass,
        cssLength: cssLength,
        log: log
    };

    // Remembers which page jQuery Mobile is about to show, for `_pageChange()`. Bound when
    // this script loads, so it runs before the generated header's own handler. "pagechange"
    // is not used: jQuery Mobile sends it late, after a queued page change may have begun.
    $(document).on('pagebeforeshow', function (event) {
        var app = application();
        if (app instanceof KRApplication)
            app._pendingPage = event.target;
    });

    // jQuery Mobile writes an input button's value into the markup it wraps the button in:
    // there it is the text the user gave, as on the design surface, never elements.
    if ($.mobile && $.mobile.button && $.mobile.button.prototype && typeof $.mobile.button.prototype._button === 'function') {
        $.widget('mobile.button', $.mobile.button, {
            _button: function () {
                var value = this.element.val(), wrapper;
                this.element.val('');
                try {
                    wrapper = this._super();
                } finally {
                    this.element.val(value);
                }
                return wrapper.text(value);
            }
        });
    }

    // A field named "submit" stands where the form's method is, and jQuery's `.submit()` (the
    // usual Send) would call the field and do nothing: the form's own method is called instead,
    // and so is its "reset", with jQuery's handlers kept from hearing the form's own event
    // again, as jQuery does. Other default actions go on as jQuery has them.
    $.each(['submit', 'reset'], function (i, type) {
        if (!window.HTMLFormElement || !$.event || !$.event.special)
            return;
        var special = $.event.special[type] = $.event.special[type] || {};
        var before = special._default;
        special._default = function (event) {
            if (before && before.apply(this, arguments) !== false)
                return true;
            var form = event && event.target;
            if (!(form instanceof window.HTMLFormElement))
                return false;
            var own = dom(form, type);
            // Where nothing stands in the method's place, jQuery calls it as it always does.
            if (typeof own !== 'function' || form[type] === own)
                return false;
            $.event.triggered = type;
            try {
                own.call(form);
            } finally {
                $.event.triggered = undefined;
            }
            return true;
        };
    });

    // The few names that would stop jQuery or jQuery Mobile on the page (see the builder)
    // stand there as "kr-name-<name>", the user's own in "data-kr-name": the form sends
    // such a field under its own name. Bound natively, as the entries are made after the
    // "submit" handlers have run.
    function restoreFieldNames(event) {
        var data = event.formData, form = event.target;
        if (!data || !form || typeof data.forEach !== 'function')
            return;
        var renamed = {}, any = false;
        var fields = dom(form, 'querySelectorAll', ['[data-kr-name]']);
        for (var i = 0; i < fields.length; i++) {
            var own = dom(fields[i], 'getAttribute', ['data-kr-name']);
            if (own && dom(fields[i], 'getAttribute', ['name']) === 'kr-name-' + own) {
                renamed['kr-name-' + own] = own;
                any = true;
            }
        }
        if (!any)
            return;
        var entries = [];
        data.forEach(function (value, name) { entries.push([name, value]); });
        for (var j = 0; j < entries.length; j++)
            data['delete'](entries[j][0]);
        for (var k = 0; k < entries.length; k++) {
            var name = entries[k][0];
            data.append(Object.prototype.hasOwnProperty.call(renamed, name) ? renamed[name] : name, entries[k][1]);
        }
    }
    if (typeof dom(document, 'addEventListener') === 'function')
        dom(document, 'addEventListener', ['formdata', restoreFieldNames, true]);

    // Without jQuery Mobile nothing would announce the first page: show it when ready.
    $(function () {
        var app = application();
        if (app instanceof KRApplication && !($.mobile && $.mobile.pageContainer !== undefined))
            app._pageChange($('[data-role="page"]').first());
    });
})(window, window.jQuery);
