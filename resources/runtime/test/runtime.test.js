// The runtime against a built two-page application in jsdom with jQuery 1.9.1 and jQuery
// Mobile 1.4.1. KR_RUNTIME_MIN names the minified runtime; when set, the suite runs on it too.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { openApp, waitFor, runtimeDir, pageHTML, page2Div } = require('./harness');

// Values made in the page's window have that window's prototypes: compare them as JSON.
const plain = (v) => JSON.parse(JSON.stringify(v));

const runtimes = [['source', path.join(runtimeDir, 'KRObjects.js')]];
if (process.env.KR_RUNTIME_MIN) runtimes.push(['minified', process.env.KR_RUNTIME_MIN]);

for (const [flavour, runtime] of runtimes) {
  const open = (options = {}) => openApp({ runtime, ...options });

  test.describe(`${flavour} runtime`, () => {
    test('builds and sets up every object of the shown page', async () => {
      const t = await open();
      const { window, $, app } = t;
      try {
        const p = app._pages.page1;
        const o = p._objects;
        assert.deepEqual(plain(Object.keys(o)), ['button1', 'checkbox1', 'header1', 'label1', 'listview1',
          'popup1', 'select1', 'table1', 'textbox1', 'timer1']);
        assert.ok(o.button1 instanceof window.KRButton && o.button1 instanceof window.KRFormControl);
        assert.ok(o.header1 instanceof window.JQMHeaderToolbar && o.timer1 instanceof window.KRObject);
        assert.equal(p.label1, o.label1, 'objects are reachable on their page');
        assert.equal(o.label1._id, 'label1');
        assert.equal(o.label1._page, p);
        assert.equal(window.__loads, 1, 'the page onLoad handler ran once');
        assert.equal($('#_form_page1').attr('action'), 'page2.html');

        // Geometry: bare numbers become pixels, units stay, per-device values pick the device.
        const label = window.document.getElementById('page1_label1');
        assert.equal(app._deviceID, 'iPad');
        assert.equal(label.style.top, '24px');
        assert.equal(label.style.left, '10%');
        assert.equal(window.document.getElementById('page1_button1').style.top, '200px');

        // The empty built table gets its rows and bordered cells.
        const table = window.document.getElementById('page1_table1');
        assert.equal(table.rows.length, 2);
        assert.equal(table.rows[1].cells.length, 3);
        assert.equal(table.rows[0].cells[0].style.borderStyle, 'solid');
        o.table1.cell(1, 2).text('x');
        assert.equal(table.rows[1].cells[2].textContent, 'x');

        // List rows from the item JSON: divider, badge, the list's icon or the item's own.
        const rows = $('#_page1_listview1_ul > li');
        assert.equal(rows.length, 3);
        assert.equal(rows.eq(0).attr('data-role'), 'list-divider');
        assert.equal(rows.eq(0).text(), 'Fruit');
        assert.equal(rows.eq(1).attr('data-icon'), 'arrow-r');
        assert.equal(rows.eq(1).find('.ui-li-count').text(), '3');
        assert.equal(rows.eq(2).attr('data-icon'), 'star');
        assert.equal(rows.eq(2).find('a').css('white-space'), 'normal');
        assert.ok(rows.eq(1).find('a').hasClass('ui-btn'), 'the list was refreshed by jQuery Mobile');

        // Navigation-bar items of the toolbar.
        const items = $('#_page1_header1_nb li');
        assert.deepEqual(plain(items.map((i, li) => $(li).text()).get()), ['One', 'Two']);
        assert.ok(items.eq(0).find('a').hasClass('ui-btn-active'));

        // The pop-up: markup of its own in the page, user text as text.
        const popup = $('#page1_popup1');
        assert.equal(popup.length, 1);
        assert.equal(popup.closest('#page1').length, 1);
        assert.equal(popup.find('h1').text(), 'Notice');
        assert.equal(popup.find('h3').text(), 'Saved');
        assert.equal(popup.find('p').text(), '<b>not markup</b>');
        assert.equal(popup.find('b').length, 0);
        assert.ok(popup.find('a[data-kr-button="1"]').hasClass('ui-btn-inline'));
        assert.equal(popup.find('a[data-kr-button="2"]').length, 0);

        assert.deepEqual(t.errors, []);
      } finally {
        window.close();
      }
    });

    test('picks the device by the viewport and falls back through the device order', async () => {
      const t = await open({ viewport: [320, 480] });
      const { window, app } = t;
      try {
        assert.equal(app._deviceID, 'iPhone');
        assert.equal(window.document.getElementById('page1_label1').style.top, '10px');
        assert.equal(window.document.getElementById('page1_button1').style.top, '100px');
        assert.equal(app._chooseDevice([[480, 320]]), 'iPhone', 'orientation does not matter');
        assert.equal(app._chooseDevice([[800, 1200]]), 'iPad', 'nearest device');
        assert.equal(app._deviceValue({ iPad: '7' }), '7', 'missing entry: first non-empty in device order');
        assert.equal(app._deviceValue({ iPhone: '', iPad: '8' }), '8');
        assert.equal(app._deviceValue({ other: '9' }), '9');
        assert.equal(app._deviceValue({}), '');
        assert.equal(app._deviceValue('12'), '12');
        assert.equal(window.KRObjects.cssLength('12'), '12px');
        assert.equal(window.KRObjects.cssLength('1.5'), '1.5px');
        assert.equal(window.KRObjects.cssLength('50%'), '50%');
        assert.equal(window.KRObjects.cssLength('3em'), '3em');
        assert.equal(window.KRObjects.cssLength(''), '');
        assert.equal(new window.KRApplication({ _deviceMap: {} })._deviceID, null);
        assert.deepEqual(t.errors, []);
      } finally {
        window.close();
      }
    });

    test('a button runs its handler, then goes to its page', async (ctx) => {
      await ctx.test('without Ajax the page file is loaded as a new document', async () => {
        const { window, $, app, errors } = await open();
        try {
          const urls = [];
          app._assignLocation = (url) => urls.push(url);
          $('#page1_button1').trigger('click');
          assert.equal($('#page1_label1').text(), 'Clicked button1');
          assert.deepEqual(urls, ['page2.html']);

          // A handler that returns false keeps the user on the page.
          app._pages.page1.button1.onClick = () => false;
          $('#page1_button1').trigger('click');
          assert.deepEqual(urls, ['page2.html']);
          assert.deepEqual(errors, []);
        } finally {
          window.close();
        }
      });

      await ctx.test('with Ajax jQuery Mobile loads the page with the transition', async () => {
        const { window, $, app, errors } = await open({ ajax: true });
        try {
          const calls = [];
          $.mobile.changePage = (to, options) => calls.push([to, options]);
          app._assignLocation = () => assert.fail('no full page load with Ajax');
          app._pages.page2._pageURL = 'page2.krml';
          $('#page1_button1').trigger('click');
          assert.deepEqual(plain(calls), [['page2.krml', { transition: 'slide' }]]);
          app.gotoPage('nowhere', '');
          assert.deepEqual(plain(calls[1]), ['nowhere.html', {}], 'an unknown page is taken as a file');
          assert.deepEqual(errors, []);
        } finally {
          window.close();
        }
      });

      await ctx.test('a failing handler is reported and cancels the page change', async () => {
        const { window, $, app, logs, errors } = await open();
        try {
          const urls = [];
          app._assignLocation = (url) => urls.push(url);
          app._pages.page1.button1.onClick = () => { throw new Error('boom'); };
          $('#page1_button1').trigger('click');
          assert.deepEqual(urls, []);
          assert.ok(logs.some((l) => /error in onClick of "button1": boom/.test(l)), logs.join('\n'));
          await waitFor(() => errors.length > 0, 'the error to reach the window');
          assert.match(errors[0], /boom/);
        } finally {
          window.close();
        }
      });
    });

    test('single-page build: pages change in the document and objects are rebuilt per showing', async () => {
      const { window, $, app, clock, errors } = await open({ singlePage: true });
      try {
        const before = clock.count();
        $('#page1_button1').trigger('click');
        await waitFor(() => app._pages.page2._objects.label2, 'page2 to be set up');
        assert.equal(app._currentPage, window.document.getElementById('page2'));
        assert.equal($.mobile.activePage.attr('id'), 'page2');
        assert.equal(window.document.getElementById('page2_label2').style.top, '10px');

        let backs = 0;
        $.mobile.back = () => { backs++; };
        $('#_page2_footer1_div a.ui-btn-left').trigger('click');
        assert.equal(backs, 1, '"(back)" goes back in the history');

        app.gotoPage('page1');
        await waitFor(() => window.__loads === 2, 'page1 to be shown again');
        assert.equal(clock.count(), before, 'the first showing\'s timer was stopped');
        assert.equal(app._pages.page1._objects.table1.cell(1, 2).length, 1);

        // The page change event that follows "pagebeforeshow" does not set the page up twice.
        app._pageChange();
        $(window.document).trigger('pagechange', { toPage: $('#page1') });
        assert.equal(window.__loads, 2);
        assert.deepEqual(errors, []);
      } finally {
        window.close();
      }
    });

    test('with Ajax a server page is loaded into the document, set up and filled', async () => {
      const serverPage = page2Div.replace(/<\/div>$/,
        '<form data-ajax="false" id="_form_page2"><input type="text" name="comment" id="page2_comment" data-role="none">' +
        '<input type="text" name="submit" id="page2_submit" data-role="none">' +
        '<input type="text" name="kr-name-parentNode" data-kr-name="parentNode" id="page2_parent" data-role="none"></form>' +
        '<script>application._pages.page2.form = {"comment":"posted text","submit":"as written",' +
        '"parentNode":"its own name","kr-name-parentNode":"not this"};\n</script></div>');
      const { window, $, app, errors } = await open({ ajax: true, server: { '/page2.krml': pageHTML('Page 2', serverPage, true) } });
      try {
        app._pages.page2._pageURL = 'page2.krml';
        $('#page1_button1').trigger('click');
        await waitFor(() => app._pages.page2._objects.label2, 'page2 to be loaded and set up', 20000);
        assert.equal($('#page2_comment').val(), 'posted text');
        // A field named as written is filled by its name; one the build renamed, as its name
        // would stop the page, by its own.
        assert.equal($('#page2_submit').val(), 'as written');
        assert.equal($('#page2_parent').val(), 'its own name');
        assert.equal($('#page2_label2')[0].style.top, '10px');
        assert.equal($('#page1').length, 1, 'the first page stays in the document');
        assert.deepEqual(errors, []);
      } finally {
        window.close();
      }
    });

    test('the timer fires at its interval until stopped, and pings the watchdog', async () => {
      const { window, app, clock, watchdog, errors } = await open({ controller: true });
      try {
        const timer = app._pages.page1.timer1;
        assert.ok(timer.isRunning());
        assert.ok(watchdog.calls >= 1, 'pinged at start-up');
        const start = watchdog.calls;
        clock.tick(1000);
        assert.equal(window.__ticks, 4);
        assert.ok(watchdog.calls - start >= 1, 'pinged every second');
        timer.stop();
        clock.tick(1000);
        assert.equal(window.__ticks, 4);
        timer.interval = 0;
        timer.start();
        assert.ok(!timer.isRunning(), 'no interval, no timer');
        assert.deepEqual(errors, []);
      } finally {
        window.close();
      }
    });

    test('without the preview bridge the watchdog stays quiet', async () => {
      const { window, clock, errors } = await open();
      try {
        clock.tick(5000);
        window.__kr_controller = { jsWatchdog() { window.__pings = (window.__pings || 0) + 1; } };
        clock.tick(2000);
        assert.ok(window.__pings >= 2, 'a bridge installed later is used');
        assert.deepEqual(errors, []);
      } finally {
        window.close();
      }
    });

    test('list items call their handler or open their page', async () => {
      const { window, $, app, errors } = await open();
      try {
        const urls = [];
        app._assignLocation = (url) => urls.push(url);
        const rows = $('#_page1_listview1_ul > li');
        rows.eq(0).trigger('click');
        rows.eq(1).find('a').trigger('click');
        assert.equal(window.__item, 'Apple@1');
        assert.deepEqual(urls, []);
        rows.eq(2).trigger('click');
        assert.deepEqual(urls, ['page2.html']);

        const list = app._pages.page1.listview1;
        list.setItems([{ label: 'Only' }]);
        assert.equal($('#_page1_listview1_ul > li').length, 1);
        assert.deepEqual(plain(list.getItems()), [{ label: 'Only' }]);
        list.setItems('not json');
        assert.equal($('#_page1_listview1_ul > li').length, 0);
        assert.deepEqual(errors, []);
      } finally {
        window.close();
      }
    });

    test('toolbar buttons and navigation-bar items', async () => {
      const { window, $, app, errors } = await open({ ajax: true });
      try {
        const calls = [];
        let backs = 0;
        $.mobile.changePage = (to, options) => calls.push([to, options]);
        $.mobile.back = () => { backs++; };
        $('#_page1_header1_nbi1 a').trigger('click');
        assert.equal(window.__nav, 'Two@1');
        assert.deepEqual(plain(calls), []);
        $('#_page1_header1_nbi0').trigger('click');
        assert.deepEqual(plain(calls), [['page2.html', {}]]);
        $('#_page1_header1_div a.ui-btn-left').trigger('click');
        assert.equal(backs, 1);
        assert.deepEqual(errors, []);
      } finally {
        window.close();
      }
    });

    test('a toolbar without navigation-bar markup gets it from its items', async () => {
      const { window, $, app, errors } = await open();
      try {
        $('#page1').append('<div id="page1_footer2"><div id="_page1_footer2_div" data-role="footer"><h1> </h1></div></div>');
        $('#page1_footer2').enhanceWithin();
        const p = app._pages.page1;
        p._load((o) => {
          o.footer2 = new window.JQMFooterToolbar('page1_footer2');
          o.footer2.navbarItems = { _krinit: true, items: [{ label: 'A"b', active: 1 }, 'not an item', { label: 'C', theme: 'b' }] };
          o.footer2.navbarIconpos = 'top';
          o.footer2.navbarOnClick = function (event, item, index) { window.__bar = `${this._id}:${item.label}:${index}`; };
        });
        const nb = $('#_page1_footer2_nb');
        assert.equal(nb.attr('data-iconpos'), 'top');
        assert.deepEqual(plain(nb.find('li').map((i, li) => li.id).get()), ['_page1_footer2_nbi0', '_page1_footer2_nbi1']);
        assert.equal(nb.find('li a').eq(0).text(), 'A"b');
        assert.ok(nb.find('li a').eq(0).hasClass('ui-btn-active'));
        assert.equal(nb.find('li a').eq(1).attr('data-theme'), 'b');
        nb.find('li').eq(1).trigger('click');
        assert.equal(window.__bar, 'footer2:C:1');
        assert.deepEqual(errors, []);
      } finally {
        window.close();
      }
    });

    test('form controls: values, change handlers, posted values', async () => {
      const { window, $, app, errors } = await open({ form: { textbox1: 'posted', checkbox1: ['x'], select1: 'a' } });
      try {
        const p = app._pages.page1;
        assert.equal(p.textbox1.getValue(), 'posted');
        assert.deepEqual(plain(p.checkbox1.getValue()), ['x']);
        assert.equal(p.select1.getValue(), 'a');
        p.select1.setValue('b');
        $('#_page1_select1_sel').trigger('change');
        assert.equal(window.__changed, 'b');
        p.checkbox1.setValue(['x', 'y']);
        assert.deepEqual(plain(p.checkbox1.getValue()), ['x', 'y']);
        assert.ok($('label[for="page1_checkbox1-1"]').hasClass('ui-checkbox-on'), 'the widget shows the new state');
        window.document.getElementById('page1_textbox1').focus();
        window.document.getElementById('page1_textbox1').blur();
        assert.equal(window.__focus, '+textbox1-textbox1');
        p.label1.setValue('<i>t</i>');
        assert.equal($('#page1_label1 i').length, 0);
        assert.deepEqual(errors, []);
      } finally {
        window.close();
      }
    });

    test('the pop-up opens and its button calls the handler', async () => {
      const { window, $, app, errors } = await open();
      try {
        const popup = app._pages.page1.popup1;
        popup.open();
        await waitFor(() => $('#page1_popup1').parent().hasClass('ui-popup-active'), 'the pop-up to open');
        $('#page1_popup1 a[data-kr-button="1"]').trigger('click');
        assert.equal(window.__popupButton, 'popup1');
        assert.deepEqual(errors, []);
      } finally {
        window.close();
      }
    });

    test('the graph draws through the Bluff-compatible script', async () => {
      const { window, $, app, logs, errors } = await open();
      try {
        const made = [];
        function Line(canvas, size) {
          this.calls = [];
          made.push([canvas, size, this]);
        }
        Line.prototype.theme_keynote = function () { this.calls.push('theme'); };
        Line.prototype.data = function (name, points) { this.calls.push(`data ${name} ${points.join(',')}`); };
        Line.prototype.draw = function () { this.calls.push(`draw ${this.title}`); };
        window.Bluff = { Line };
        $('#page1').append('<div id="page1_graph1" class="bluff-wrapper"><canvas id="_page1_graph1_canvas"></canvas></div>');
        const p = app._pages.page1;
        p._load((o) => {
          o.graph1 = new window.KRBluffGraph('page1_graph1');
          o.graph1.width = '300';
          o.graph1.height = { iPhone: '150', iPad: '200' };
          o.graph1.title = 'Sales';
          o.graph1.theme = 'keynote';
          o.graph1.type = 'Pie';
        });
        assert.equal(made.length, 1);
        assert.equal(made[0][0], '_page1_graph1_canvas');
        assert.equal(made[0][1], '300x200');
        assert.deepEqual(plain(made[0][2].calls), ['theme', 'draw Sales']);
        assert.ok(logs.some((l) => /unknown graph type "Pie"/.test(l)));
        p.graph1.addData('Apples', [1, 2, 3]);
        p.graph1.draw();
        assert.deepEqual(plain(made[1][2].calls), ['theme', 'data Apples 1,2,3', 'draw Sales']);
        assert.equal(p.graph1.chart(), made[1][2]);
        assert.deepEqual(errors, []);
      } finally {
        window.close();
      }
    });

    test('the photo gallery shows thumbnails and opens PhotoSwipe', async () => {
      const dist = path.join(runtimeDir, '..', 'local-server', 'node_modules', 'photoswipe', 'dist');
      const { window, $, app, errors } = await open();
      try {
        // jsdom does no layout: give elements the size of a phone screen.
        Object.defineProperty(window.HTMLElement.prototype, 'clientWidth', { get: () => 320 });
        Object.defineProperty(window.HTMLElement.prototype, 'clientHeight', { get: () => 480 });
        window.eval(fs.readFileSync(path.join(dist, 'photoswipe.js'), 'utf8'));
        window.eval(fs.readFileSync(path.join(dist, 'photoswipe-ui-default.js'), 'utf8'));
        $('#page1').append('<div id="page1_photoswipe1"></div>');
        const p = app._pages.page1;
        p._load((o) => {
          o.photoswipe1 = new window.KRPhotoSwipe('page1_photoswipe1');
          o.photoswipe1.images = [{ url: 'a.png', caption: 'First' }, { url: 'b.png', caption: '' }, { caption: 'no address' }];
          o.photoswipe1.loop = false;
          o.photoswipe1.fadeInSpeed = 0;
          o.photoswipe1.margin = 0;
        });
        const thumbs = $('#page1_photoswipe1 img');
        assert.equal(thumbs.length, 2);
        assert.equal(thumbs.eq(0).attr('alt'), 'First');
        thumbs.eq(1).trigger('click');
        const gallery = p.photoswipe1._gallery;
        assert.ok(gallery, 'PhotoSwipe was opened');
        assert.equal(gallery.getCurrentIndex(), 1);
        assert.equal(gallery.options.loop, false);
        assert.equal(gallery.options.showAnimationDuration, 0);
        assert.equal($('.pswp').length, 1);
        p.photoswipe1.close();
        assert.equal(p.photoswipe1._gallery, null);
        assert.deepEqual(errors, []);
      } finally {
        window.close();
      }
    });

    test('the local data source keeps JSON values per object', async () => {
      const { window, app, errors } = await open();
      try {
        const p = app._pages.page1;
        p._load((o) => {
          o.dataSource1 = new window.KRLocalDataSource('page1_dataSource1');
          o.dataSource2 = new window.KRLocalDataSource('page1_dataSource2');
        });
        p.dataSource1.setItem('score', { best: 3 });
        p.dataSource2.setItem('score', 5);
        assert.deepEqual(plain(p.dataSource1.getItem('score')), { best: 3 });
        assert.equal(p.dataSource2.getItem('score'), 5);
        assert.equal(p.dataSource1.getItem('missing'), null);
        assert.deepEqual(plain(p.dataSource1.keys()), ['score']);
        p.dataSource1.clear();
        assert.equal(p.dataSource1.getItem('score'), null);
        assert.equal(p.dataSource2.getItem('score'), 5);
        assert.deepEqual(errors, []);
      } finally {
        window.close();
      }
    });

    test('plug-in classes derive from KRPlugin; a new load tears the old objects down', async () => {
      const { window, $, app, clock, errors } = await open();
      try {
        window.KRPlugin.define('KRTestGauge', {
          render(element, properties) { element.textContent = `${properties.caption}:${properties.width}`; },
        });
        $('#page1').append('<div id="page1_gauge1"></div>');
        const p = app._pages.page1;
        p._load((o) => {
          o.gauge1 = new window.KRTestGauge('page1_gauge1');
          o.gauge1.caption = 'fuel';
          o.gauge1.width = { iPhone: '50', iPad: '80' };
        });
        assert.equal($('#page1_gauge1').text(), 'fuel:80');
        assert.equal($('#page1_gauge1')[0].style.width, '80px');
        assert.ok(p.gauge1 instanceof window.KRControl);
        assert.equal(p.timer1, undefined, 'objects of the last showing are gone');
        assert.equal($('#page1_popup1').length, 0, 'the old pop-up markup is removed');
        assert.equal(clock.count(), 1, 'only the watchdog is left running');

        // A constructor that does not exist (a missing plug-in script) is reported; the
        // objects made before it are still set up.
        p._load((o) => {
          o.a = new window.KRLabel('page1_label1');
          o.a.top = '5';
          o.b = new window.NoSuchClass('page1_b');
        });
        assert.equal($('#page1_label1')[0].style.top, '5px');
        await waitFor(() => errors.length > 0, 'the error to reach the window');
        assert.match(errors[0], /NoSuchClass/);
      } finally {
        window.close();
      }
    });
  });
}

test('the minified runtime is valid and under 60 KB', { skip: !process.env.KR_RUNTIME_MIN }, () => {
  const size = fs.statSync(process.env.KR_RUNTIME_MIN).size;
  assert.ok(size < 60 * 1024, `${size} bytes`);
});
