// Loads a hand-written built application (pages as the builder writes them, the generated
// "KR-user-scripts.js") with jQuery 1.9.1, jQuery Mobile 1.4.1 and the runtime into jsdom.
// Nothing goes to the network: every address is answered from local files.
'use strict';

const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { JSDOM, ResourceLoader, VirtualConsole } = require('jsdom');

const runtimeDir = path.resolve(__dirname, '..');
const modules = path.resolve(runtimeDir, '..', 'local-server', 'node_modules');

const libraries = {
  '/__kr_bundle/jquery-1.9.0/jquery.min.js': path.join(modules, 'jquery', 'jquery.js'),
  '/__kr_bundle/jquery.mobile-1.4.0/jquery.mobile-1.4.0.min.js':
    path.join(modules, 'jquery-mobile', 'dist', 'jquery.mobile.js'),
};

const deviceMap = {
  iPhone: { width: 320, height: 480, screenWidth: 320, screenHeight: 480 },
  iPad: { width: 768, height: 1024, screenWidth: 768, screenHeight: 1024 },
};

function head(title, ajax) {
  // The order of a page's head as the page document is built for output.
  return `<head><title>${title}</title><meta http-equiv="Content-Type" content="text/html; charset=UTF-8">` +
    '<meta name="viewport" content="user-scalable=no, width=device-width, initial-scale = 1.0,maximum-scale = 1.0">' +
    '<meta name="apple-mobile-web-app-capable" content="yes">' +
    '<style type="text/css">html, body { font-size: 16px; font-family: "Helvetica"; background-color: #eee;}\n' +
    'p.kr-css-marker {}\n</style>' +
    '<link rel="stylesheet" href="/__kr_bundle/jquery.mobile-1.4.0/jquery.mobile.structure-1.4.0.min.css">' +
    '<link rel="stylesheet" href="/__kr_bundle/jquery.mobile-1.4.0/jquery.mobile.icons-1.4.0.min.css">' +
    '<script src="/__kr_bundle/jquery-1.9.0/jquery.min.js"></script>' +
    (ajax ? '' : '<script>$(document).bind("mobileinit", function() {\n$.mobile.ajaxEnabled = false;\n' +
      '$.mobile.hashListeningEnabled = false;\n$.mobile.pushStateEnabled = false;\n});\n</script>') +
    '<script src="/__kr_bundle/jquery.mobile-1.4.0/jquery.mobile-1.4.0.min.js"></script>' +
    '<link href="/__kr_bundle/jquery.mobile-1.4.0/jquery.mobile.theme-1.4.0.min.css" rel="stylesheet">' +
    '<script src="KRObjects-min.js"></script><script src="KR-user-scripts.js"></script></head>';
}

const page1Div =
  '<div id="page1" data-role="page"><form data-ajax="false" method="post" id="_form_page1">' +
  '<div id="page1_label1" style="position: absolute; top: 10px; left: 10px; width: 100px; height: 32px;" data-role="none">Hello</div>' +
  '<input id="page1_button1" type="button" data-role="none" name="button1" value="Go" ' +
  'style="position: absolute; top: 100px; left: 10px; width: 150px; height: 50px;">' +
  '<input id="page1_textbox1" type="text" data-role="none" name="textbox1" value="abc" ' +
  'style="position: absolute; top: 160px; left: 10px; width: 200px; height: 32px;">' +
  '<div id="page1_select1" style="position: absolute; top: 200px; left: 10px; width: 200px; height: 32px;">' +
  '<label for="_page1_select1_sel" class="select">Pick</label>' +
  '<select id="_page1_select1_sel" name="select1" value="b"><option value="a">A</option>' +
  '<option value="b" selected="selected">B</option></select></div>' +
  '<div id="page1_checkbox1" style="position: absolute; top: 240px; left: 10px; width: 200px; height: 32px;">' +
  '<fieldset data-role="controlgroup"><legend>Choose</legend>' +
  '<input type="checkbox" id="page1_checkbox1-1" name="checkbox1" value="x"><label for="page1_checkbox1-1">X</label>' +
  '<input type="checkbox" id="page1_checkbox1-2" name="checkbox1" value="y" checked="checked"><label for="page1_checkbox1-2">Y</label>' +
  '</fieldset></div>' +
  '<table id="page1_table1" style="position: absolute; border-collapse: collapse; top: 300px; left: 10px; ' +
  'width: 250px; height: 50px; border-style: solid; border-width: 1px; border-radius: 4px;" data-role="none"></table>' +
  '<div id="page1_listview1" style="position: absolute; top: 40px; left: 0px; width: 100%; height: 400px;">' +
  '<ul data-role="listview" id="_page1_listview1_ul"><li data-icon="arrow-r"><a>Item #1</a><span class="kr-lvi-badge"></span></li></ul></div>' +
  '<div id="page1_header1"><div id="_page1_header1_div" data-role="header" data-update-page-padding="false" ' +
  'data-position="fixed" data-tap-toggle="false"><h1>Title</h1><a class="ui-btn-left">Back</a>' +
  '<div data-role="navbar" id="_page1_header1_nb"><ul>' +
  '<li id="_page1_header1_nbi0"><a class="ui-btn-active ui-state-persist">One</a></li>' +
  '<li id="_page1_header1_nbi1"><a data-icon="star">Two</a></li></ul></div></div></div>' +
  '</form></div>';

const page2Div =
  '<div id="page2" data-role="page">' +
  '<div id="page2_label2" style="position: absolute; top: 10px; left: 10px; width: 100px; height: 32px;" data-role="none">Second</div>' +
  '<div id="page2_footer1"><div id="_page2_footer1_div" data-role="footer" data-update-page-padding="false" ' +
  'data-position="fixed" data-tap-toggle="false"><h1> </h1><a class="ui-btn-left" data-icon="back">Back</a></div></div>' +
  '</div>';

// The generated script: the builder's header, each page's block, the footer.
function userScripts({ ajax, singlePage }) {
  let s = '(function(window) {\n' +
    "$(document).on('pagechange pagebeforeshow', function() {\napplication._pageChange();\n});\n" +
    'window.application = new KRApplication({\n' +
    `_deviceMap: ${JSON.stringify(deviceMap)}, _jqm: true, _jqmAJAX: ${ajax ? 'true' : 'false'}` +
    (singlePage ? ', _singlePageDeploy: true' : '') + '});\n' +
    'var application = window.application;\n';
  s += '\napplication._pages.page1 = new KRPage("page1");\n(function(p) {\np._pageURL = "page1.html";\n' +
    'application._pages.page1._events.button1_onClick = function(event) {\n' +
    'application._pages.page1.label1.setValue("Clicked " + this._id);\n};\n' +
    'application._pages.page1._events.page1_onLoad = function(event) {\n' +
    'window.__loads = (window.__loads || 0) + 1;\n};\n' +
    'application._pages.page1._events.timer1_onTimeout = function(event) {\n' +
    'window.__ticks = (window.__ticks || 0) + 1;\n};\n' +
    'application._pages.page1._events.item_onClick = function(event, item, index) {\n' +
    'window.__item = item.label + "@" + index;\n};\n' +
    'application._pages.page1._events.nav_onClick = function(event, item, index) {\n' +
    'window.__nav = item.label + "@" + index;\n};\n' +
    'application._pages.page1._events.select1_onChange = function(event) {\n' +
    'window.__changed = this.getValue();\n};\n' +
    'application._pages.page1._events.textbox1_onFocus = function(event) {\n' +
    'window.__focus = (window.__focus || "") + "+" + this._id;\n};\n' +
    'application._pages.page1._events.textbox1_onBlur = function(event) {\n' +
    'window.__focus = (window.__focus || "") + "-" + this._id;\n};\n' +
    'application._pages.page1._events.popup1_onButton1Click = function(event) {\n' +
    'window.__popupButton = this._id;\n};\n' +
    "$(document).off('_kr_pagechange', '#page1').on('_kr_pagechange', '#page1', function() {\n" +
    'p._load(function(o) {\n' +
    'p.formAction = "page2.html";\n' +
    'p.onLoad = application._pages.page1._events.page1_onLoad;\n' +
    'o.button1 = new KRButton("page1_button1");\n' +
    'o.button1.top = {"iPhone":"100","iPad":"200"};\n' +
    'o.button1.left = "10";\n' +
    'o.button1.width = "150";\n' +
    'o.button1.height = "50";\n' +
    'o.button1.onClick = application._pages.page1._events.button1_onClick;\n' +
    'o.button1.gotoPage = "page2";\n' +
    'o.button1.gotoPageTransition = "slide";\n' +
    'o.checkbox1 = new JQMCheckboxGroup("page1_checkbox1");\n' +
    'o.checkbox1.top = "240";\n' +
    'o.header1 = new JQMHeaderToolbar("page1_header1");\n' +
    'o.header1.navbarItems = {_krinit:true, items: [{"label":"One","active":1,"gotoPage":"page2"},' +
    '{"label":"Two","icon":"star","onClick":application._pages.page1._events.nav_onClick}]};\n' +
    'o.header1.leftButtonGotoPage = "(back)";\n' +
    'o.label1 = new KRLabel("page1_label1");\n' +
    'o.label1.top = {"iPhone":"10","iPad":"24"};\n' +
    'o.label1.left = "10%";\n' +
    'o.label1.width = "100";\n' +
    'o.label1.height = "32";\n' +
    'o.listview1 = new JQMListView("page1_listview1");\n' +
    'o.listview1.top = "40";\n' +
    'o.listview1.width = "100%";\n' +
    'o.listview1.icon = "arrow-r";\n' +
    'o.listview1.items = { _krinit: true, items: [{"divider":1,"label":"Fruit","theme":"b"},' +
    '{"label":"Apple","badge":"3","onClick":application._pages.page1._events.item_onClick},' +
    '{"label":"Pear","gotoPage":"page2","icon":"star"}]};\n' +
    'o.listview1.wordwrap = true;\n' +
    'o.listview1.gotoPageTransition = "flip";\n' +
    'o.popup1 = new JQMSimplePopup("page1_popup1");\n' +
    'o.popup1.title = "Notice";\n' +
    'o.popup1.message = "Saved";\n' +
    'o.popup1.text = "<b>not markup</b>";\n' +
    'o.popup1.inlineButtons = true;\n' +
    'o.popup1.theme = "a";\n' +
    'o.popup1.button1Label = "OK";\n' +
    'o.popup1.onButton1Click = application._pages.page1._events.popup1_onButton1Click;\n' +
    'o.select1 = new JQMSelect("page1_select1");\n' +
    'o.select1.onChange = application._pages.page1._events.select1_onChange;\n' +
    'o.table1 = new KRTable("page1_table1");\n' +
    'o.table1.columns = 3;\n' +
    'o.table1.rows = 2;\n' +
    'o.textbox1 = new KRTextbox("page1_textbox1");\n' +
    'o.textbox1.onFocus = application._pages.page1._events.textbox1_onFocus;\n' +
    'o.textbox1.onBlur = application._pages.page1._events.textbox1_onBlur;\n' +
    'o.timer1 = new KRTimer("page1_timer1");\n' +
    'o.timer1.interval = 250;\n' +
    'o.timer1.onTimeout = application._pages.page1._events.timer1_onTimeout;\n' +
    'o.timer1.enabled = true;\n' +
    '});\n});\n})(application._pages.page1);\n';
  s += '\napplication._pages.page2 = new KRPage("page2");\n(function(p) {\np._pageURL = "page2.html";\n' +
    "$(document).off('_kr_pagechange', '#page2').on('_kr_pagechange', '#page2', function() {\n" +
    'p._load(function(o) {\n' +
    'o.footer1 = new JQMFooterToolbar("page2_footer1");\n' +
    'o.footer1.leftButtonGotoPage = "(back)";\n' +
    'o.label2 = new KRLabel("page2_label2");\n' +
    'o.label2.top = "10";\n' +
    '});\n});\n})(application._pages.page2);\n';
  s += '})(window);\n';
  return s;
}

function pageHTML(title, divs, ajax) {
  return `<!DOCTYPE HTML>\n<html>${head(title, ajax)}<body style="margin: 0px; padding: 0px;">${divs}</body></html>`;
}

// A deterministic stand-in for window.setInterval: the test advances it with tick(ms).
function installFakeIntervals(window) {
  const timers = new Map();
  let next = 1;
  let now = 0;
  window.setInterval = (fn, ms) => {
    const id = next++;
    timers.set(id, { fn, ms: Math.max(1, Number(ms) || 1), due: now + Math.max(1, Number(ms) || 1) });
    return id;
  };
  window.clearInterval = (id) => { timers.delete(id); };
  return {
    tick(ms) {
      const end = now + ms;
      for (;;) {
        let first = null;
        for (const [id, t] of timers) {
          if (t.due <= end && (!first || t.due < first[1].due)) first = [id, t];
        }
        if (!first) break;
        now = first[1].due;
        first[1].due += first[1].ms;
        first[1].fn();
      }
      now = end;
    },
    count: () => timers.size,
    delays: () => [...timers.values()].map((t) => t.ms),
  };
}

class LocalLoader extends ResourceLoader {
  constructor(files) {
    super();
    this.files = files;
    this.requested = [];
  }

  fetch(url) {
    const u = new URL(url);
    this.requested.push(u.pathname);
    if (u.pathname.endsWith('.css')) return Promise.resolve(Buffer.from(''));
    const body = this.files[u.pathname];
    if (body === undefined) return Promise.reject(new Error(`not found: ${u.pathname}`));
    return Promise.resolve(Buffer.isBuffer(body) ? body : Buffer.from(body));
  }
}

// Opens page1 of the application. Options: ajax, singlePage, runtime (path of the runtime
// file), viewport [w, h], controller (install a __kr_controller), extra (map path -> text).
async function openApp(options = {}) {
  const { ajax = false, singlePage = false, runtime = path.join(runtimeDir, 'KRObjects.js') } = options;
  const files = {
    '/KRObjects-min.js': fs.readFileSync(runtime),
    '/KR-user-scripts.js': userScripts({ ajax, singlePage }),
  };
  for (const [url, file] of Object.entries(libraries)) files[url] = fs.readFileSync(file);
  Object.assign(files, options.extra || {});

  const errors = [];
  const logs = [];
  const virtualConsole = new VirtualConsole();
  virtualConsole.on('jsdomError', (e) => {
    // jsdom lacks scrolling and layout; jQuery Mobile scrolls on every page change.
    if (/Not implemented: window\.scrollTo/.test(e.message)) return;
    errors.push(e.stack || e.message);
  });
  virtualConsole.on('error', (...a) => errors.push(a.join(' ')));
  virtualConsole.on('log', (...a) => logs.push(a.join(' ')));

  let clock = null;
  const watchdog = { calls: 0 };
  // A server page carries the posted values in a script at the end of its page element.
  let first = page1Div;
  if (options.form !== undefined) {
    first = first.replace(/<\/div>$/, `<script>application._pages.page1.form = ${JSON.stringify(options.form)};\n</script></div>`);
  }
  const html = pageHTML('Page 1', singlePage ? first + page2Div : first, ajax);
  // Pages that jQuery Mobile loads with Ajax come from a server on the loopback address
  // (jsdom's requests do not go through the resource loader).
  let server = null;
  let origin = 'http://127.0.0.1:8080';
  if (options.server) {
    server = http.createServer((req, res) => {
      const body = options.server[new URL(req.url, 'http://x').pathname];
      res.writeHead(body === undefined ? 404 : 200, { 'Content-Type': 'text/html; charset=UTF-8' });
      res.end(body === undefined ? 'not found' : body);
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    origin = `http://127.0.0.1:${server.address().port}`;
  }
  const dom = new JSDOM(html, {
    url: `${origin}/page1.html`,
    runScripts: 'dangerously',
    resources: new LocalLoader(files),
    pretendToBeVisual: true,
    virtualConsole,
    beforeParse(window) {
      clock = installFakeIntervals(window);
      const [w, h] = options.viewport || [1024, 768];
      Object.defineProperty(window, 'innerWidth', { value: w, configurable: true });
      Object.defineProperty(window, 'innerHeight', { value: h, configurable: true });
      Object.defineProperty(window.screen, 'width', { value: w, configurable: true });
      Object.defineProperty(window.screen, 'height', { value: h, configurable: true });
      window.scrollTo = () => {};
      // jsdom has no media queries, so jQuery Mobile would take it for a basic browser and
      // leave the page unenhanced; the document's "onmobileinit" runs before that test.
      window.document.onmobileinit = () => { window.jQuery.mobile.gradeA = () => true; };
      if (options.controller) window.__kr_controller = { jsWatchdog() { watchdog.calls++; } };
    },
  });
  const window = dom.window;
  await waitFor(() => window.application && window.application._pages.page1 &&
    window.application._pages.page1._objects.label1, 'page1 to be set up');
  if (server) {
    const close = window.close.bind(window);
    window.close = () => { close(); server.close(); };
  }
  return { dom, window, $: window.jQuery, app: window.application, clock, errors, logs, watchdog };
}

// Waits for an event of the page (scripts, jQuery Mobile's start-up); gives up after a
// generous bound so a broken page fails the test instead of hanging it.
async function waitFor(predicate, what, limitMs = 10000) {
  const start = Date.now();
  for (;;) {
    let value;
    try { value = predicate(); } catch (e) { value = false; }
    if (value) return value;
    if (Date.now() - start > limitMs) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 5));
  }
}

module.exports = { openApp, waitFor, runtimeDir, pageHTML, page2Div };
